#include "handlers/driver/tornel_events.h"

#include "handlers/driver/tornel_numbers.h"
#include "handlers/driver/tornel_tables.h"
#include "router/list_items.h"

#include <QStringList>
#include <algorithm>
#include <optional>

namespace {

const int day = 86400;

// "OBIS_" and three runs of digits joined by "_", at the start of the key (anything may
// follow), as the short key "C.D.E". Each number is taken modulo 256 digit by digit, so a run
// of any length neither overflows nor fails.
std::optional<QString> short_key_of(const QString& key)
{
    const QLatin1String prefix("OBIS_");
    if (!key.startsWith(prefix))
        return std::nullopt;
    unsigned groups[3] = { 0, 0, 0 };
    int i = prefix.size();
    for (int g = 0; g < 3; ++g) {
        if (g > 0) {
            if (i >= key.size() || key.at(i) != QLatin1Char('_'))
                return std::nullopt;
            ++i;
        }
        const int begin = i;
        for (; i < key.size(); ++i) {
            const ushort c = key.at(i).unicode();
            if (c < '0' || c > '9')
                break;
            groups[g] = (groups[g] * 10 + (c - '0')) % 256;
        }
        if (i == begin)
            return std::nullopt;
    }
    return QStringLiteral("%1.%2.%3").arg(groups[0]).arg(groups[1]).arg(groups[2]);
}

// Every journal tornel_journal_of() gives an event: no other code can select one.
struct journal_codes
{
    QStringList texts;
    quint64 lengths = 0; // bit n: some code is n characters long (n < 64)

    journal_codes()
    {
        texts = tornel_event_journals();
        texts.append(tornel_journal_of(-1)); // the unknown type
        for (const QString& text : texts)
            lengths |= quint64(1) << std::min(text.size(), 63);
    }
    // The code `item` names, or null. Most items of a long profile are passed over by their
    // length alone.
    QString find(QStringView item) const
    {
        if (!(lengths >> std::min<qsizetype>(item.size(), 63) & 1))
            return QString();
        for (const QString& text : texts)
            if (item == text)
                return text;
        return QString();
    }
};

const journal_codes& journal_texts()
{
    static const journal_codes codes;
    return codes;
}

// The driver fields an event keeps, under their answer keys; null for the others.
QString kept_field(const QString& key)
{
    if (key == QLatin1String("timework") || key == QLatin1String("96.8.0"))
        return QStringLiteral("96.8.0");
    if (key == QLatin1String("index_send") || key == QLatin1String("index_head"))
        return key;
    return QString();
}

QJsonObject event_object(const QJsonObject& event, int type, qint64 t, const QString& journal)
{
    QJsonObject object;
    for (auto it = event.begin(); it != event.end(); ++it) {
        if (const std::optional<QString> key = short_key_of(it.key()))
            object.insert(*key, it.value().toDouble());
        else if (const QString answer_key = kept_field(it.key()); !answer_key.isNull())
            object.insert(answer_key, it.value());
    }
    object.insert(
        QStringLiteral("96.11.%1").arg(type), event.value(QLatin1String("event")).toInt());
    object.insert(QLatin1String("1.0.0"), t);
    object.insert(QLatin1String("profile"), journal);
    return object;
}

} // namespace

events_request tornel_events_request(const tornel_params& params, QByteArray modem_ids, qint64 now)
{
    events_request request;
    events_context& context = request.context;
    if (const std::optional<QString> from = params.value(QStringLiteral("timefrom")))
        context.window_start = request_number(*from);
    if (const std::optional<QString> to = params.value(QStringLiteral("timeto")))
        context.window_end = request_number(*to);
    const std::optional<QString> profile = params.value(QStringLiteral("profile"));
    if (profile && !profile->isEmpty()) {
        // A profile of no journal's code keeps no event, so an empty item counts too; but only
        // the few codes an event can have are kept, however many the caller lists.
        context.journals.emplace();
        for_each_comma_run(*profile, [&context](QStringView item, qsizetype) {
            const QString code = journal_texts().find(item);
            if (!code.isNull())
                context.journals->insert(code);
        });
    }

    const int start = context.window_start;
    request.data = QJsonObject { { QStringLiteral("from"), start > day ? start - day : start },
        { QStringLiteral("to"), clamp_to_int32(now + day) },
        { QStringLiteral("tag"), QJsonArray { QStringLiteral("tornel.event") } } };
    request.data.insert_ready(QStringLiteral("modem_id"), std::move(modem_ids));
    return request;
}

bool tornel_event_record_convert(const QJsonObject& event, const QJsonObject& record,
    const events_context& context, std::vector<QJsonObject>& events)
{
    const qint64 t = reply_integer(event.value(QLatin1String("timestamp")))
        + reply_integer(record.value(QLatin1String("bs_timezone_offset")));
    const int type = event.value(QLatin1String("type")).toInt();
    const QString journal = tornel_journal_of(type);
    if (context.journals && !context.journals->contains(journal))
        return false;
    if (!(context.window_start < t && t < context.window_end))
        return false;
    events.push_back(event_object(event, type, t, journal));
    return context.window_start <= 0;
}

bool report_record_less(const QJsonObject& a, const QJsonObject& b)
{
    return a.value(QLatin1String("1.0.0")).toDouble() > b.value(QLatin1String("1.0.0")).toDouble();
}

QJsonObject events_modem_object(
    const QString& modem, const QJsonArray& records, const events_context& context)
{
    std::vector<QJsonObject> events;
    bool stop = false;
    for (int r = 0; r < records.size() && !stop; ++r) {
        const QJsonObject record = records.at(r).toObject();
        const QJsonValue data = record.value(QLatin1String("data"));
        QJsonArray taken;
        if (data.isObject()) {
            // An object's events are taken last key first.
            const QJsonObject by_key = data.toObject();
            for (auto it = by_key.end(); it != by_key.begin();) {
                --it;
                taken.append(it.value());
            }
        } else if (data.isArray()) {
            taken = data.toArray();
        }
        for (int e = 0; e < taken.size() && !stop; ++e)
            stop = tornel_event_record_convert(taken.at(e).toObject(), record, context, events);
    }
    std::stable_sort(events.begin(), events.end(), report_record_less);

    QJsonArray sorted;
    for (const QJsonObject& event : events)
        sorted.append(event);
    QJsonObject object { { QStringLiteral("events"), sorted },
        { QStringLiteral("modem"), modem_number(modem) },
        { QStringLiteral("timeto"), context.window_end } };
    if (context.window_start > 1)
        object.insert(QLatin1String("timefrom"), context.window_start);
    return object;
}

bool tornel_events_reply(QJsonDocument& reply, instance_replies& replies, QJsonArray& answer,
    const events_context& context)
{
    return join_report_reply(
        reply, replies, answer, [&context](const QString& modem, const QJsonArray& records) {
            return events_modem_object(modem, records, context);
        });
}
