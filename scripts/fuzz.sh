#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) in build-fuzz, writes a small seed
# corpus for each, and runs each target for SECONDS (default 30), one after the other. Exits
# non-zero when a target crashes; its reproducer is left in build-fuzz/crashes/<target>/.
# Environment: FUZZ_JOBS (parallel build jobs, default 4), FUZZ_TARGETS (names to run, default
# all), FUZZ_BUILD (build dir, default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${FUZZ_BUILD:-build-fuzz}
targets=${FUZZ_TARGETS:-"http_request forward_answer token_reader query_params amqp_message compact_json"}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DGORVEX_FUZZ=ON -DGORVEX_TESTS=OFF >/dev/null
for t in $targets; do
  cmake --build "$build" -j "${FUZZ_JOBS:-4}" --target "fuzz_$t"
done

seed() { # target, name, bytes (printf format)
  mkdir -p "$build/seeds/$1"
  # shellcheck disable=SC2059
  printf "$3" >"$build/seeds/$1/$2"
}
seed http_request get '\x00GET /api/x?a=1 HTTP/1.1\r\nHost: h\r\n\r\n'
seed http_request post '\x01POST /p HTTP/1.1\r\nContent-Length: 5\r\nCookie: VORNIX_JWT=a.b.c\r\n\r\nhello'
seed http_request chunked '\x00POST /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n'
seed http_request pipelined '\x00GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.0\r\nConnection: keep-alive\r\n\r\nHEAD /c HTTP/1.1\r\n\r\n'
seed http_request split '\x03GET /x HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\nab'
seed forward_answer length '\x00HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello'
seed forward_answer chunked '\x05HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n5;x=1\r\nhello\r\n0\r\nT: 1\r\n\r\n'
seed forward_answer interim '\x03HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n'
seed forward_answer to_close '\x02HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n\r\nuntil the close'
seed forward_answer head '\x81HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n'
seed token_reader bearer '\x00bearer eyJhbGciOiJIUzI1NiJ9.eyJlbWFpbCI6ImFAYiJ9.c2ln'
seed token_reader cookie '\x01a=1; VORNIX_JWT=eyJ0%%2B.eyJl.c2ln; b=2'
seed token_reader parts '\x02eyJhbGciOiJIUzI1NiJ9.eyJlbWFpbCI6ImFAYiJ9.c2ln'
seed token_reader claims '\x03{"email":"a@b","exp":2000000000,"roles":["admin"],"api_keys":["k"],"claims":{"x":1}}'
seed token_reader header '\x04{"alg":"HS256","typ":"JWT"}\x00{"email":"u@v","exp":1.5}'
seed query_params list 'ids=1,2,3&names=ab,%%20cd'
seed query_params object 'o=%%7B%%22a%%22:1%%7D&n=5&x=&route_key=k'
seed query_params body 'a=x&b=1.5\x00{"a":1,"b":[true]}'
seed query_params api_key 'z=1\x00{"api_key":["a",[1]],"c":{"e":1,"d":2},"\xee\x80\x80":1,"\xf0\x9f\x98\x80":2}'
# Keys Qt's parser and its search compare apart: a byte order mark, raw NULs (the body may hold
# them past the first zero byte), characters past U+FFFF beside U+E000, and enough items before
# every body key that the overlay leaves one-by-one inserts for its chunks.
seed query_params byte_order_mark 'a=5&%%EE%%80%%80=3&%%EF%%BB%%BFa=6\x00{"\xef\xbb\xbfa":1,"a":2,"b":4}'
seed query_params nul 'k%%00=1&k%%00bb=2\x00{"k\x00a":1,"k\x00bb":2,"k\x00":[3],"k":4}'
seed query_params wide '%%F0%%9F%%98%%80=1&%%EE%%80%%80=2&%%ED%%A0%%BD=3\x00{"\xf0\x9f\x98\x80":1,"\\ud83d\\ude00x":2,"\xee\x80\x80":3,"\\ue000":4,"\\ud83d":5}'
seed query_params many_items "$(for i in $(seq 100 199); do printf 'a%d=1&' "$i"; done)%%EF%%BB%%BFk=2\x00{$(for i in $(seq 100 199); do printf '"k%d":1,' "$i"; done)\"\xef\xbb\xbfk\":0}"
seed amqp_message reply '{"cmd_id":"{6f1c2e4a-0000-4000-8000-000000000001}","data":{"ok":1},"msg_type":"response"}'
seed amqp_message push '{"cmd_id":"6f1c2e4a-0000-4000-8000-000000000002","data":[{"api_key":"k","modem_ids":[1,2],"station_ids":[3]}],"msg_type":"clients_devices","sender":"gw"}'
seed amqp_message command '{"cmd_id":"x","data":{"a":[1,"b"]},"msg_type":"version","sender":"q\\u00e9"}'
seed compact_json order '{"b":1,"a":[1,{"d":null,"c":true}],"a":"x","":{}}'
seed compact_json numbers '[0,-0.0,1.,.5,1e5,1.5e-7,9223372036854775808,-9223372036854775808,18446744073709551616,9007199254740993,4.9e-324,0e999,1e21,0.1]'
seed compact_json strings '["\\ud83d\\ude00\\ud83d","\\udc00x","\\q\\/\\u0001\x01\x7f","\\\xc3","\xef\xbb\xbf\xef\xbb\xbfx"]'
seed compact_json key_forms '{"\\uffff":1,"\xf0\x90\x80\x80":2,"\\ud800\\udc00":3,"\xef\xbf\xbd":4,"\\ud800":5,"a\x00b":6,"a\x00c":7,"a\\u0000b":8,"\xef\xbb\xbfk":9}'
# (the texts built here hold no %: they are formats in seed)
# Keys between 0xff bytes, made into a large object: each form, a NUL, surrogates beside U+E000
# and up, a long shared start.
seed compact_json large_object 'b\xffa\x00c\xff\\u00e9\xff\xc3\xa9\xff\\ud800x\xff\\udc00\xff\\ud83d\\ude00\xff\xee\x80\x80\xff\xf0\x9f\x98\x80\xffshared_past_the_prefix_1\xff\\u0073hared_past_the_prefix_0'
seed compact_json duplicates "{$(for i in $(seq 40); do printf '"%x":%d,' $((i * 7 % 11)) "$i"; done)\"z\":0}"
seed compact_json repeated_containers '{"a":[1],"b":{"c":[2],"c":{}},"a":{"d":[3]}, "a" :[4],"b":[5]}'
seed compact_json deep "$(printf '%.0s[' $(seq 1024))$(printf '%.0s]' $(seq 1024))"
seed compact_json too_deep "\xef\xbb\xbf $(printf '%.0s{"a":' $(seq 1025))1$(printf '%.0s}' $(seq 1025)) "

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in $targets; do
  corpus="$build/corpus/$t"
  crashes="$build/crashes/$t"
  mkdir -p "$corpus" "$crashes"
  echo "== fuzz_$t for ${seconds}s"
  dict=()
  if [ -f "tests/fuzz/$t.dict" ]; then
    dict=(-dict="tests/fuzz/$t.dict")
  fi
  if ! "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$crashes/" "${dict[@]}" "$corpus" "$build/seeds/$t" \
    2>"$build/fuzz_$t.log"; then
    echo "fuzz_$t: crashed, see $build/fuzz_$t.log and $crashes/" >&2
    tail -n 40 "$build/fuzz_$t.log" >&2
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz_$t.log" || true
done
exit $status
