# What the benchmarks share; sourced by them, not run. Loopback only.

# On exit: ends the processes a benchmark started (killed when one is still busy after 5 s) and
# the broker start_broker started, and removes its $work directory (kept with BENCH_KEEP set).
pids=()
own_broker=
running() { # pid: not ended (a child that has ended stays until it is waited for, not running)
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}
end_processes() { # pid...: asks them to end, and kills those still busy after 5 s
  local p left
  for p in "$@"; do kill -TERM "$p" 2>/dev/null || true; done
  for _ in $(seq 50); do
    left=0
    for p in "$@"; do running "$p" && left=1; done
    [ $left -eq 1 ] || break
    sleep 0.1
  done
  for p in "$@"; do
    running "$p" || continue
    { kill -KILL "$p"; wait "$p"; } 2>/dev/null || true # and no word of it
  done
  for p in "$@"; do wait "$p" 2>/dev/null || true; done
}
cleanup() {
  end_processes "${pids[@]}"
  [ -z "$own_broker" ] || scripts/test-services.sh stop "$own_broker" >/dev/null 2>&1 || true
  [ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

port() { # a free loopback port, below the ephemeral ports that forwards leave in TIME_WAIT
  local p
  while :; do
    p=$((10000 + RANDOM % 20000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
}
wait_port() {
  for _ in $(seq 300); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  echo "port $1 did not open" >&2; return 1
}

# An nginx configuration in $work/<name>/nginx.conf, in the foreground, logging nothing.
nginx_conf() { # name workers server-block
  mkdir -p "$work/$1"
  cat > "$work/$1/nginx.conf" <<EOF
worker_processes $2;
daemon off;
user root root;
pid $work/$1/nginx.pid;
error_log $work/$1/error.log crit;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/$1/body;
  proxy_temp_path $work/$1/proxy;
  fastcgi_temp_path $work/$1/fastcgi;
  uwsgi_temp_path $work/$1/uwsgi;
  scgi_temp_path $work/$1/scgi;
  $3
}
EOF
}

# A valid token for SIGN_KEY=bench-key with the API key "k" and the given claims: HMAC-MD5 hex
# of "P1.P2", Base64 of that hex as P3.
b64() { base64 -w0 | tr -d '='; }
token() { # claims
  local p1 p2 sig
  p1=$(printf '{"alg":"HS256","typ":"JWT"}' | b64)
  p2=$(printf '{"email":"bench@example.org","exp":2000000000,"ver":"2.0","apiKeys":["k"],"claims":%s}' "$1" | b64)
  sig=$(printf '%s' "$p1.$p2" | openssl dgst -md5 -hmac bench-key | awk '{print $NF}')
  echo "$p1.$p2.$(printf '%s' "$sig" | b64)"
}

# A private Redis in $work, its port in $redis_port.
start_redis() {
  redis_port=$(port)
  redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no \
    --dir "$work" --logfile "$work/redis-server.log" & pids+=($!)
  wait_port "$redis_port"
}

# A broker with the /api virtual host, its port in $amqp_port: the one of GORVEX_TEST_AMQP_PORT
# when set, otherwise a private one in $work/rabbit, stopped on exit.
start_broker() {
  if [ -n "${GORVEX_TEST_AMQP_PORT:-}" ]; then
    amqp_port=$GORVEX_TEST_AMQP_PORT
    return
  fi
  amqp_port=$(port)
  own_broker=$work/rabbit
  scripts/test-services.sh start-rabbit "$own_broker" "$amqp_port" >/dev/null
}

# A gateway's ini in $work/<name>.ini: its log there, errors only, the bench key, no load ban, the
# in-memory access store (given a port, the Redis store there instead), its own queue on the
# broker at amqp-url (a closed port: none), and the in-memory store's link as the further lines
# say.
write_ini() { # name gateway-port extra-general amqp-url [redis-port] [user-db-link-lines]
  local store=RAM_USER_DB_SERVICE=ENABLE
  [ -z "${5:-}" ] || store=RAM_USER_DB_SERVICE=DISABLE
  cat > "$work/$1.ini" <<EOF
[GENERAL_SETTINGS]
LOG_FILE_PATH=$work/$1.log
LOG_LEVEL=ERROR
$store
SIGN_KEY=bench-key
STATISTIC_BAN_LOAD=2000000000
$3
[QHTTP_SETTINGS]
HOST=127.0.0.1
PORT=$2
[AMQP_API_SETTINGS]
R_LOGIN=$4
R_VHOST=/api
R_EXCHANGE=nelqa.api
R_QUEUE=gw.$1.$$
R_BINDINGS="nelqa.api:gw.$1.$$"
[RAM_USER_DB_SERVICE_SETTINGS]
R_LOGIN=$4
${6:-}
EOF
  [ -z "${5:-}" ] || printf '[REDIS_SETTINGS]\nHOST=127.0.0.1\nPORT=%s\n' "$5" >> "$work/$1.ini"
  # Out of the gateway's recent-change window, in which the file is re-read by design.
  touch -d '-10 seconds' "$work/$1.ini"
}

# A fake back-end on the /api virtual host of the broker at $broker that answers the commands sent
# to the routing keys as the script says; serving once this returns. Its output is drained unread.
# An argument "--option value" among the keys is passed on to it (e.g. --record FILE).
start_backend() { # name script routing-key...
  local name=$1 script=$2 options=()
  shift 2
  while [ $# -gt 0 ]; do
    case $1 in
      --*) options+=("$1" "$2"); shift 2 ;;
      *) options+=(--bind "$1"); shift ;;
    esac
  done
  mkfifo "$work/$name.out"
  "$build/tests/fake_backend" --url "$broker" --vhost /api --exchange nelqa.api \
    --queue "fb.$name.$$" "${options[@]}" --script "$script" > "$work/$name.out" & pids+=($!)
  { grep -m1 -q READY && touch "$work/$name.ready"; cat > /dev/null; } < "$work/$name.out" &
  pids+=($!)
  for _ in $(seq 150); do [ -f "$work/$name.ready" ] && return 0; sleep 0.1; done
  echo "the fake back-end $name did not start" >&2; return 1
}

least() { printf '%s\n' "$@" | sort -g | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
