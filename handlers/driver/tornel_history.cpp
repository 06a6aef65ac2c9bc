#include "handlers/driver/tornel_history.h"

#include "handlers/driver/obis_hex_key.h"
#include "handlers/driver/tornel_numbers.h"
#include "handlers/driver/tornel_tables.h"
#include "router/list_items.h"
#include "json/json_array_text.h"

#include <QList>
#include <algorithm>

namespace {

const int no_end = 2147483647;
const int day = 86400;
const int default_cap = 1000;

// The tables of the profile's codes, one for each known code however often it comes, as the
// ready text of a JSON array; every table without a profile.
QByteArray wanted_tables(const std::optional<QString>& profile)
{
    const QMap<QString, QString>& tables = tornel_profile_tables();
    json_array_text wanted;
    if (!profile) {
        for (const QString& table : tables)
            wanted.add_string(table);
        return wanted.take();
    }
    for_each_comma_run(*profile, [&](QStringView code, qsizetype count) {
        const auto it = tables.constFind(code.toString());
        if (it != tables.cend())
            wanted.add_string(it.value(), count);
    });
    return wanted.take();
}

// A record's local time: its UTC time plus the station's offset, made even.
qint64 local_record_time(const QJsonObject& record)
{
    const qint64 sum = reply_integer(record.value(QLatin1String("timestamp")))
        + reply_integer(record.value(QLatin1String("bs_timezone_offset")));
    return sum & ~qint64(1);
}

bool in_window(qint64 t, const QJsonObject& record, const history_context& context)
{
    if (t < context.window_start)
        return false;
    if (context.window_end == no_end) {
        return t <= context.request_time
            + reply_integer(record.value(QLatin1String("bs_timezone_offset")));
    }
    return t <= context.window_end;
}

QJsonObject metering_of(const QJsonObject& record, qint64 t, const history_context& context)
{
    json_object_builder metering;
    const QJsonObject data = record.value(QLatin1String("data")).toObject();
    if (!context.index_only) {
        const QJsonObject values = data.value(QLatin1String("data")).toObject();
        for (auto it = values.begin(); it != values.end(); ++it)
            obis_hex_to_key(metering, values, it.key());
        const QJsonObject extended = record.value(QLatin1String("extended_data")).toObject();
        for (auto it = extended.begin(); it != extended.end(); ++it)
            obis_hex_to_key(metering, extended, it.key());
    }
    const QString profile = tornel_profile_of_table(record.value(QLatin1String("tag")).toString());
    if (!profile.isNull())
        metering.insert(QLatin1String("profile"), profile);
    metering.insert(QLatin1String("1.0.0"), t);
    metering.insert(
        QLatin1String("ts_get"), record.value(QLatin1String("time_detected")).toDouble());
    const QString index_send = QStringLiteral("index_send");
    if (data.contains(index_send))
        metering.insert(QLatin1String("index"), data.value(index_send).toDouble());
    return metering.take();
}

} // namespace

history_request tornel_history_request(
    const tornel_params& params, QByteArray modem_ids, qint64 now)
{
    history_request request;
    const std::optional<QString> index_only = params.value(QStringLiteral("index_only"));
    request.context.index_only = index_only && *index_only == QLatin1String("true");
    request.command = request.context.index_only ? QStringLiteral("get_roll")
                                                 : QStringLiteral("get_roll_extract");
    request.context.request_time = now;

    command_data& data = request.data;
    data.insert_ready(QStringLiteral("modem_id"), std::move(modem_ids));
    data.insert_ready(
        QStringLiteral("tag"), wanted_tables(params.value(QStringLiteral("profile"))));
    if (const std::optional<QString> limit = params.value(QStringLiteral("limit"))) {
        request.context.limit = request_number(*limit);
        data.insert(QLatin1String("limit"), clamp_to_int32(qint64(*request.context.limit) + 1000));
    }
    if (const std::optional<QString> from = params.value(QStringLiteral("timefrom")))
        request.context.window_start = request_number(*from);
    const int start = request.context.window_start;
    data.insert(QLatin1String("from"), start > day ? start - day : start);
    if (const std::optional<QString> to = params.value(QStringLiteral("timeto"))) {
        request.context.window_end = request_number(*to);
        data.insert(QLatin1String("to"), clamp_to_int32(qint64(request.context.window_end) + day));
    } else {
        data.insert(QLatin1String("to"), clamp_to_int32(now + day));
    }
    if (const std::optional<QString> fill = params.value(QStringLiteral("fill")))
        data.insert(QLatin1String("fill"), *fill);
    return request;
}

QJsonObject history_modem_object(
    const QString& modem, const QJsonArray& records, const history_context& context)
{
    // A negative limit sets no cap; 64 bits keep it from wrapping as it falls.
    qint64 cap = context.limit ? *context.limit : default_cap;
    QJsonArray meterings;
    QList<qint64> intervals;
    qint64 last_time = no_end;
    for (int i = 0; i < records.size() && cap != 0; ++i) {
        const QJsonObject record = records.at(i).toObject();
        const qint64 t = local_record_time(record);
        if (t < last_time) {
            if (last_time != no_end)
                intervals.append(last_time - t);
            last_time = t;
        }
        if (!in_window(t, record, context))
            continue;
        --cap;
        const QJsonObject metering = metering_of(record, t, context);
        // In index-only mode a record without an index is left out but still uses up the cap.
        if (!context.index_only || metering.contains(QLatin1String("index")))
            meterings.append(metering);
        if (context.window_start == 0)
            break;
    }

    QJsonObject object { { QStringLiteral("modem"), modem_number(modem) },
        { QStringLiteral("meterings"), meterings },
        { QStringLiteral("timeto"), context.window_end } };
    if (intervals.size() > 5) {
        std::sort(intervals.begin(), intervals.end());
        object.insert(QLatin1String("period"), intervals.at(intervals.size() / 2));
    }
    if (context.window_start > 1)
        object.insert(QLatin1String("timefrom"), context.window_start);
    return object;
}

bool tornel_history_reply(QJsonDocument& reply, instance_replies& replies, QJsonArray& answer,
    const history_context& context)
{
    return join_report_reply(
        reply, replies, answer, [&context](const QString& modem, const QJsonArray& records) {
            return history_modem_object(modem, records, context);
        });
}
