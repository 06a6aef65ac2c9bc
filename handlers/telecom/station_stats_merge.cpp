#include "handlers/telecom/station_stats_merge.h"

#include "handlers/telecom/lenient_json.h"
#include "router/json_object_builder.h"

#include <QMap>
#include <QString>
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace {

void append_ids(QJsonArray& to, const QJsonValue& from)
{
    for (const QJsonValue& id : from.toArray())
        to.append(id);
}

// Sums and positive averages of one object of the answer; each average keeps its own count,
// so equal member names in different parts of the reply never share one.
struct accumulated
{
    QMap<QString, double> values;
    QMap<QString, int> counts;

    void sum(const QString& name, const QJsonValue& value) { values[name] += read_number(value); }
    void average(const QString& name, const QJsonValue& value)
    {
        const double v = read_number(value);
        if (v > 0) {
            values[name] += v;
            ++counts[name];
        }
    }
    // Sums as they stand; averages divided by their count.
    void write_into(json_object_builder& out) const
    {
        for (auto it = values.begin(); it != values.end(); ++it) {
            const auto count = counts.constFind(it.key());
            out.insert(
                it.key(), count == counts.constEnd() ? it.value() : it.value() / count.value());
        }
    }
};

// A downlink or uplink group: its three averages move together on the test of "aver_nsnr".
struct group
{
    double aver_nsnr = 0, ul_aver = 0, dl_aver = 0, modems = 0, uniq_uplinks = 0;
    int count = 0;

    void add(const QJsonObject& g, bool uplink)
    {
        const double nsnr = read_number(g.value(QLatin1String("aver_nsnr")));
        if (nsnr > 0) {
            aver_nsnr += nsnr;
            ul_aver += read_number(g.value(QLatin1String("ul_aver_nsnr_from_dev")));
            dl_aver += read_number(g.value(QLatin1String("dl_aver_nsnr_from_dev")));
            ++count;
        }
        modems += read_number(g.value(QLatin1String("modems")));
        if (uplink)
            uniq_uplinks += read_number(g.value(QLatin1String("uniq_uplinks")));
    }
    QJsonObject finish(bool uplink) const
    {
        // No positive average at all: the means are undefined and answered as null.
        const auto mean
            = [this](double sum) { return count ? QJsonValue(sum / count) : QJsonValue(); };
        QJsonObject out { { QStringLiteral("aver_nsnr"), mean(aver_nsnr) },
            { QStringLiteral("ul_aver_nsnr_from_dev"), mean(ul_aver) },
            { QStringLiteral("dl_aver_nsnr_from_dev"), mean(dl_aver) },
            { QStringLiteral("modems"), modems } };
        if (uplink)
            out.insert(QStringLiteral("uniq_uplinks"), uniq_uplinks);
        return out;
    }
};

// One station of "stations" or "friend_stations": "modems" summed and "x_ids" joined, each
// present once any reply gave it.
struct station_entry
{
    std::optional<double> modems;
    std::optional<QJsonArray> x_ids;
};

// Station entries, per station; the "bs_ids" united. The stations of each reply come sorted,
// but one instance's may all sort before another's: they are kept in a tree until the answer.
struct station_entries
{
    std::map<QString, station_entry> entries;
    QJsonArray bs_ids;

    void add(const QJsonObject& list)
    {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it.key() == QLatin1String("bs_ids")) {
                append_ids(bs_ids, it.value());
                continue;
            }
            if (!it.value().isObject())
                continue;
            const QJsonObject e = it.value().toObject();
            station_entry& entry = entries[it.key()];
            const auto modems = e.constFind(QLatin1String("modems"));
            if (modems != e.constEnd())
                entry.modems = entry.modems.value_or(0) + read_number(modems.value());
            const auto ids = e.constFind(QLatin1String("x_ids"));
            if (ids != e.constEnd()) {
                if (!entry.x_ids)
                    entry.x_ids.emplace();
                append_ids(*entry.x_ids, ids.value());
            }
        }
    }
    QJsonObject finish() const
    {
        QJsonObject out;
        // In key order: each insert lands at the end.
        for (const auto& [key, entry] : entries) {
            QJsonObject station;
            if (entry.modems)
                station.insert(QStringLiteral("modems"), *entry.modems);
            if (entry.x_ids)
                station.insert(QStringLiteral("x_ids"), *entry.x_ids);
            out.insert(key, station);
        }
        out.insert(QStringLiteral("bs_ids"), sorted_unique_ids(bs_ids));
        return out;
    }
};

bool is_average(const QString& name)
{
    return name.startsWith(QLatin1String("aver_")) || name.startsWith(QLatin1String("ul_aver_"))
        || name.startsWith(QLatin1String("dl_aver_"));
}

int kind_rank(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Double:
        return 0;
    case QJsonValue::String:
        return 1;
    case QJsonValue::Bool:
        return 2;
    case QJsonValue::Null:
        return 3;
    case QJsonValue::Array:
        return 4;
    case QJsonValue::Object:
        return 5;
    default:
        return 6;
    }
}

QByteArray compact_text(const QJsonValue& v)
{
    return v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                       : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
}

// -1, 0 or 1: one total order over every kind of value.
int compare_ids(const QJsonValue& a, const QJsonValue& b)
{
    const int ra = kind_rank(a), rb = kind_rank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    switch (a.type()) {
    case QJsonValue::Double:
        return a.toDouble() < b.toDouble() ? -1 : b.toDouble() < a.toDouble() ? 1 : 0;
    case QJsonValue::String:
        return a.toString().compare(b.toString(), Qt::CaseSensitive);
    case QJsonValue::Bool:
        return int(a.toBool()) - int(b.toBool());
    case QJsonValue::Array:
    case QJsonValue::Object: {
        const QByteArray ta = compact_text(a), tb = compact_text(b);
        return ta < tb ? -1 : tb < ta ? 1 : 0;
    }
    default:
        return 0;
    }
}

} // namespace

QJsonArray sorted_unique_ids(const QJsonArray& ids)
{
    std::vector<QJsonValue> values(ids.begin(), ids.end());
    std::sort(values.begin(), values.end(),
        [](const QJsonValue& a, const QJsonValue& b) { return compare_ids(a, b) < 0; });
    const auto end = std::unique(values.begin(), values.end(),
        [](const QJsonValue& a, const QJsonValue& b) { return compare_ids(a, b) == 0; });
    QJsonArray out;
    for (auto it = values.begin(); it != end; ++it)
        out.append(*it);
    return out;
}

QJsonObject merge_station_stats(const QList<QJsonObject>& replies)
{
    // Keys of the back-ends, in an order each instance chooses.
    json_object_builder alarms;
    accumulated attached, filtered;
    QMap<QString, group> downlinks, uplinks;
    station_entries stations, friend_stations;
    QJsonArray attached_ids, filtered_ids;
    QMap<QString, accumulated> sections;
    QMap<QString, QJsonArray> section_ids;

    for (const QJsonObject& reply : replies) {
        const QJsonObject total = reply.value(QLatin1String("BS_Total")).toObject();
        alarms.insert(total.value(QLatin1String("alarms")).toObject());

        const QJsonObject in_attached = total.value(QLatin1String("attached")).toObject();
        for (auto it = in_attached.begin(); it != in_attached.end(); ++it) {
            const QString& name = it.key();
            if (name.startsWith(QLatin1String("DL_")))
                downlinks[name].add(it.value().toObject(), false);
            else if (name.startsWith(QLatin1String("UL_")))
                uplinks[name].add(it.value().toObject(), true);
            else if (name == QLatin1String("stations"))
                stations.add(it.value().toObject());
            else if (name == QLatin1String("x_ids"))
                append_ids(attached_ids, it.value());
            else if (is_average(name))
                attached.average(name, it.value());
            else
                attached.sum(name, it.value());
        }

        const QJsonObject in_filtered = total.value(QLatin1String("filtered")).toObject();
        for (auto it = in_filtered.begin(); it != in_filtered.end(); ++it) {
            const QString& name = it.key();
            if (name == QLatin1String("friend_stations"))
                friend_stations.add(it.value().toObject());
            else if (name == QLatin1String("x_ids"))
                append_ids(filtered_ids, it.value());
            else if (name.startsWith(QLatin1String("aver_")))
                filtered.average(name, it.value());
            else
                filtered.sum(name, it.value());
        }

        for (auto section = reply.begin(); section != reply.end(); ++section) {
            if (section.key() == QLatin1String("BS_Total"))
                continue;
            const QJsonObject members = section.value().toObject();
            for (auto it = members.begin(); it != members.end(); ++it) {
                if (it.key() == QLatin1String("x_ids")) {
                    append_ids(section_ids[section.key()], it.value());
                } else if (is_average(it.key())) {
                    const double v = read_number(it.value());
                    if (v > 0) // a skipped average does not make the section
                        sections[section.key()].average(it.key(), it.value());
                } else {
                    sections[section.key()].sum(it.key(), it.value());
                }
            }
        }
    }

    // The names of sums, averages and links interleave: each object is sorted once.
    json_object_builder out_filtered;
    filtered.write_into(out_filtered);
    out_filtered.insert(QStringLiteral("friend_stations"), friend_stations.finish());
    out_filtered.insert(QStringLiteral("x_ids"), sorted_unique_ids(filtered_ids));

    json_object_builder out_attached;
    attached.write_into(out_attached);
    out_attached.insert(QStringLiteral("stations"), stations.finish());
    out_attached.insert(QStringLiteral("x_ids"), sorted_unique_ids(attached_ids));
    for (auto it = uplinks.begin(); it != uplinks.end(); ++it)
        out_attached.insert(it.key(), it.value().finish(true));
    for (auto it = downlinks.begin(); it != downlinks.end(); ++it)
        out_attached.insert(it.key(), it.value().finish(false));

    QJsonObject answer { { QStringLiteral("BS_Total"),
        QJsonObject { { QStringLiteral("filtered"), out_filtered.take() },
            { QStringLiteral("attached"), out_attached.take() },
            { QStringLiteral("alarms"), alarms.take() } } } };
    // In key order: each insert lands at the end, or just before "BS_Total".
    for (auto it = sections.begin(); it != sections.end(); ++it) {
        json_object_builder section;
        it.value().write_into(section);
        section.insert(QStringLiteral("x_ids"), sorted_unique_ids(section_ids.value(it.key())));
        answer.insert(it.key(), section.take());
    }
    return answer;
}

bool station_stats_merge::collect_reply(QJsonDocument& reply, const QJsonObject&, int instances)
{
    replies.append(reply.object());
    if (++counter < instances)
        return false;
    reply = QJsonDocument(merge_station_stats(replies));
    return true;
}
