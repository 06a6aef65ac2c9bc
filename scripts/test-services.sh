#!/usr/bin/env bash
# Starts or stops a private Redis and a private RabbitMQ on loopback for the tests.
#   scripts/test-services.sh start DIR              -> both; writes DIR/env (source it)
#   scripts/test-services.sh start-rabbit DIR PORT  -> only a broker, on PORT
#   scripts/test-services.sh ctl DIR ARGS...        -> rabbitmqctl against that broker
#   scripts/test-services.sh stop DIR               -> stops what DIR holds, by pid
set -euo pipefail

cmd=${1:?start|stop}
dir=${2:?state directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
self=$(readlink -f "$0")

free_port() {
  local port
  while :; do
    port=$(( 20000 + RANDOM % 12000 )) # below the ephemeral range, which clients of other tests use
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

rabbit_env() {
  export HOME="$dir/rabbit-home"
  export RABBITMQ_NODENAME="gorvex-test-$(cat "$dir/amqp.port")@localhost"
  export RABBITMQ_NODE_IP_ADDRESS=127.0.0.1
  export RABBITMQ_NODE_PORT="$(cat "$dir/amqp.port")"
  export RABBITMQ_DIST_PORT="$(cat "$dir/dist.port")"
  export ERL_EPMD_PORT="$(cat "$dir/epmd.port")"
  export ERL_EPMD_ADDRESS=127.0.0.1
  export RABBITMQ_MNESIA_BASE="$dir/rabbit-mnesia"
  export RABBITMQ_LOG_BASE="$dir/rabbit-log"
  export RABBITMQ_PID_FILE="$dir/rabbit.pid"
  export RABBITMQ_CONFIG_FILE="$dir/rabbitmq"
  export RABBITMQ_ENABLED_PLUGINS_FILE="$dir/enabled_plugins"
  export RABBITMQ_SERVER_ADDITIONAL_ERL_ARGS="-kernel inet_dist_use_interface {127,0,0,1}"
}

ctl() { (rabbit_env; /usr/lib/rabbitmq/bin/rabbitmqctl "$@"); }

wait_port() {
  local port=$1 tries=$2
  for _ in $(seq "$tries"); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.2
  done
  return 1
}

start_redis() {
  local port; port=$(free_port); echo "$port" > "$dir/redis.port"
  redis-server --bind 127.0.0.1 --port "$port" --dir "$dir" --save '' --appendonly no \
    --daemonize yes --pidfile "$dir/redis.pid" --logfile "$dir/redis.log"
  for _ in $(seq 100); do redis-cli -p "$port" ping >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "redis did not start" >&2; return 1
}

start_rabbit() { # [amqp port]
  if [ -n "${1:-}" ]; then echo "$1" > "$dir/amqp.port"; else free_port > "$dir/amqp.port"; fi
  free_port > "$dir/dist.port"; free_port > "$dir/epmd.port"
  mkdir -p "$dir/rabbit-home" "$dir/rabbit-mnesia" "$dir/rabbit-log"
  [ -f "$dir/rabbit-home/.erlang.cookie" ] || {
    head -c 20 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$dir/rabbit-home/.erlang.cookie"
    chmod 400 "$dir/rabbit-home/.erlang.cookie"
  }
  echo "listeners.tcp.default = 127.0.0.1:$(cat "$dir/amqp.port")" > "$dir/rabbitmq.conf"
  echo "loopback_users = none" >> "$dir/rabbitmq.conf"
  : > "$dir/enabled_plugins"
  (rabbit_env; setsid /usr/lib/rabbitmq/bin/rabbitmq-server > "$dir/rabbit.out" 2>&1 &)
  wait_port "$(cat "$dir/amqp.port")" 300 || { echo "rabbitmq did not open its port" >&2; cat "$dir/rabbit.out" >&2; return 1; }
  ctl await_startup >/dev/null
  ctl add_vhost /api >/dev/null
  ctl set_permissions -p /api guest ".*" ".*" ".*" >/dev/null
}

case "$cmd" in
  start)
    start_redis
    start_rabbit
    cat > "$dir/env" <<EOF
export GORVEX_TEST_REDIS_PORT=$(cat "$dir/redis.port")
export GORVEX_TEST_AMQP_PORT=$(cat "$dir/amqp.port")
export GORVEX_TEST_RABBITMQCTL="$self ctl $dir"
EOF
    ;;
  start-rabbit)
    start_rabbit "${3:-}" ;;
  ctl)
    shift 2; ctl "$@" ;;
  stop)
    if [ -f "$dir/redis.pid" ]; then kill -TERM "$(cat "$dir/redis.pid")" 2>/dev/null || true; fi
    if [ -f "$dir/rabbit.pid" ]; then
      pid=$(cat "$dir/rabbit.pid")
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    if [ -f "$dir/epmd.port" ]; then
      ERL_EPMD_PORT=$(cat "$dir/epmd.port") ERL_EPMD_ADDRESS=127.0.0.1 epmd -kill >/dev/null 2>&1 || true
    fi
    ;;
  *) echo "usage: $0 start|start-rabbit|ctl|stop DIR" >&2; exit 2 ;;
esac
