// What objects assembled from keys in an order someone else chooses cost, against the same
// keys in ascending order measured in the same run (the order in which inserting one by one
// moved nothing): the query laid over a request body, the modem replies of several instances
// and the station statistics of several instances. Each is also timed the way it was done
// before (one insert per key) as a second reference. Prints ratios; the lowest time of
// BENCH_ROUNDS rounds counts, as the machine is shared. BENCH_SCALE (1) multiplies the sizes.
#include "handlers/modem/instance_replies.h"
#include "handlers/telecom/station_stats_merge.h"
#include "router/query_params.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

int rounds()
{
    const char* text = std::getenv("BENCH_ROUNDS");
    return text ? std::max(1, std::atoi(text)) : 3;
}

double scale()
{
    const char* text = std::getenv("BENCH_SCALE");
    return text ? std::max(0.01, std::atof(text)) : 1.0;
}

// Least milliseconds of the rounds.
double best_ms(const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < rounds(); ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

QByteArray key(const char* prefix, int number)
{
    return prefix + QByteArray::number(number).rightJustified(8, '0');
}

void one_by_one(QJsonObject& into, const QJsonObject& from)
{
    for (auto it = from.begin(); it != from.end(); ++it)
        into.insert(it.key(), it.value());
}

void report(const char* what, double ordered, double chosen, double old_ordered, double old_chosen)
{
    std::printf("%s\n  now:    %8.1f ms ascending, %8.1f ms as chosen: %6.2fx\n"
                "  before: %8.1f ms ascending, %8.1f ms as chosen: %6.2fx\n",
        what, ordered, chosen, chosen / ordered, old_ordered, old_chosen, old_chosen / old_ordered);
}

void query_over_body(int body_keys, int items)
{
    QByteArray body = "{";
    for (int i = 0; i < body_keys; ++i)
        body += (i ? ",\"" : "\"") + key("m", i) + "\":" + QByteArray::number(i);
    body += "}";
    const auto query = [items](const char* prefix) {
        QByteArray text;
        for (int i = 0; i < items; ++i)
            text += (i ? "&" : "") + key(prefix, i) + "=v";
        return QUrl::fromEncoded("http://127.0.0.1/telecom/api/stats?" + text);
    };
    const QUrl before = query("a"), after = query("z");
    const auto old_params = [&body](const QUrl& url) {
        QJsonObject result = QJsonDocument::fromJson(body).object();
        one_by_one(result, query_to_json(url));
    };
    char what[160];
    std::snprintf(what, sizeof what,
        "query over a body: %d body keys, %d items sorting before them (ascending: after them)",
        body_keys, items);
    report(what, best_ms([&] { request_params(after, body); }),
        best_ms([&] { request_params(before, body); }), best_ms([&] { old_params(after); }),
        best_ms([&] { old_params(before); }));
}

// Instance i of `instances` holds `keys` keys; ascending: instance 0's sort first.
QList<QJsonDocument> instance_replies_of(int instances, int keys, bool descending)
{
    QList<QJsonDocument> replies;
    for (int i = 0; i < instances; ++i) {
        const int block = descending ? instances - 1 - i : i;
        QByteArray text = "{";
        for (int k = 0; k < keys; ++k)
            text += (k ? ",\"" : "\"") + key("", block * keys + k) + "\":{\"dl\":" + "1}";
        replies.append(QJsonDocument::fromJson(text + "}"));
    }
    return replies;
}

void modem_merge(int instances, int keys)
{
    const QList<QJsonDocument> ascending = instance_replies_of(instances, keys, false);
    const QList<QJsonDocument> descending = instance_replies_of(instances, keys, true);
    const auto now = [instances](QList<QJsonDocument> replies) {
        instance_replies merge(instances);
        for (QJsonDocument& reply : replies)
            merge_instance_replies(reply, merge);
    };
    const auto old = [](const QList<QJsonDocument>& replies) {
        QJsonObject merged;
        for (const QJsonDocument& reply : replies)
            one_by_one(merged, reply.object());
    };
    char what[160];
    std::snprintf(what, sizeof what,
        "modem replies merged: %d instances of %d keys, the last instance's sorting first",
        instances, keys);
    report(what, best_ms([&] { now(ascending); }), best_ms([&] { now(descending); }),
        best_ms([&] { old(ascending); }), best_ms([&] { old(descending); }));
}

QList<QJsonObject> station_replies(int instances, int stations, bool descending)
{
    QList<QJsonObject> replies;
    for (int i = 0; i < instances; ++i) {
        const int block = descending ? instances - 1 - i : i;
        QByteArray text = R"({"BS_Total":{"alarms":{},"attached":{"stations":{)";
        for (int s = 0; s < stations; ++s)
            text += (s ? ",\"" : "\"") + key("bs", block * stations + s)
                + R"(":{"modems":3,"x_ids":[1]})";
        replies.append(QJsonDocument::fromJson(text + "}}}}").object());
    }
    return replies;
}

// The stations of the merge as it was: each reply's inserted into the merged object.
void old_station_merge(const QList<QJsonObject>& replies)
{
    QJsonObject entries;
    for (const QJsonObject& reply : replies) {
        const QJsonObject list = reply.value("BS_Total")
                                     .toObject()
                                     .value("attached")
                                     .toObject()
                                     .value("stations")
                                     .toObject();
        for (auto it = list.begin(); it != list.end(); ++it) {
            QJsonObject entry = entries.value(it.key()).toObject();
            entry.insert("modems",
                entry.value("modems").toDouble()
                    + it.value().toObject().value("modems").toDouble());
            entries.insert(it.key(), entry);
        }
    }
}

void station_merge(int instances, int stations)
{
    const QList<QJsonObject> ascending = station_replies(instances, stations, false);
    const QList<QJsonObject> descending = station_replies(instances, stations, true);
    char what[160];
    std::snprintf(what, sizeof what,
        "station statistics: %d instances of %d stations, the last instance's sorting first "
        "(before: the stations alone)",
        instances, stations);
    report(what, best_ms([&] { merge_station_stats(ascending); }),
        best_ms([&] { merge_station_stats(descending); }),
        best_ms([&] { old_station_merge(ascending); }),
        best_ms([&] { old_station_merge(descending); }));
}

} // namespace

int main()
{
    const double s = scale();
    query_over_body(int(200000 * s), int(9000 * s));
    modem_merge(8, int(25000 * s));
    station_merge(4, int(50000 * s));
    return 0;
}
