#!/usr/bin/env bash
# Installs what is missing, builds build/gorvex, makes sure a RabbitMQ broker is there for the
# example configuration, and runs the gateway in the foreground (Ctrl-C stops it).
#   scripts/run-gateway.sh [INI]     default: gorvex.example.ini
set -euo pipefail
cd "$(dirname "$0")/.."
ini=${1:-gorvex.example.ini}

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target gorvex

# A broker of our own on 5672 when none is running; it is stopped when the gateway stops.
state=""
if ! (exec 3<>/dev/tcp/127.0.0.1/5672) 2>/dev/null; then
  state=$(pwd)/run/broker
  rm -rf "$state"
  echo "starting a local RabbitMQ on 127.0.0.1:5672 (state in run/broker)"
  scripts/test-services.sh start-rabbit "$state" 5672
  declare_exchange() { # vhost name
    scripts/test-services.sh ctl "$state" eval \
      "rabbit_exchange:declare(rabbit_misc:r(<<\"$1\">>, exchange, <<\"$2\">>), direct, true, false, false, [], <<\"gorvex\">>)." >/dev/null
  }
  declare_exchange /api nelqa.api
  declare_exchange / nelqa.auth
fi
stop_broker() { [ -n "$state" ] && scripts/test-services.sh stop "$state" || true; }
trap stop_broker EXIT

echo "gorvex listening as configured in $ini (Ctrl-C to stop)"
build/gorvex -c "$ini" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null || true' INT TERM
wait $pid || true
