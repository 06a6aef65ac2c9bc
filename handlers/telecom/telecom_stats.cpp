#include "handlers/telecom/telecom_stats.h"

#include "handlers/telecom/lenient_json.h"

namespace {

// The counts, for reading, summing and writing alike.
constexpr struct
{
    const char* key;
    qint64 telecom_stats::*field;
} counts[] = {
    { "ulMessLastHour", &telecom_stats::ulMessLastHour },
    { "ulMessLast24Hour", &telecom_stats::ulMessLast24Hour },
    { "ulAppMessLastHour", &telecom_stats::ulAppMessLastHour },
    { "ulAppMessLast24Hour", &telecom_stats::ulAppMessLast24Hour },
    { "modemsLastHour", &telecom_stats::modemsLastHour },
    { "modemsLast24Hour", &telecom_stats::modemsLast24Hour },
    { "dlMessLastHour", &telecom_stats::dlMessLastHour },
    { "dlMessLast24Hour", &telecom_stats::dlMessLast24Hour },
    { "dlAppMessLastHour", &telecom_stats::dlAppMessLastHour },
    { "dlAppMessLast24Hour", &telecom_stats::dlAppMessLast24Hour },
};

constexpr struct
{
    const char* key;
    double telecom_stats::*field;
} per_second[] = {
    { "ulMessPerSec", &telecom_stats::ulMessPerSec },
    { "ulAppMessPerSec", &telecom_stats::ulAppMessPerSec },
    { "dlMessPerSec", &telecom_stats::dlMessPerSec },
};

constexpr struct
{
    const char* key;
    float telecom_stats::*field;
} rates[] = {
    { "successRateOfDlAppDelivery", &telecom_stats::successRateOfDlAppDelivery },
    { "successRateOfDlAppDelivery_daily", &telecom_stats::successRateOfDlAppDelivery_daily },
};

} // namespace

telecom_stats telecom_stats::fromJson(const QJsonObject& object)
{
    telecom_stats record;
    for (const auto& f : per_second)
        record.*f.field = read_number(object.value(QLatin1String(f.key)));
    for (const auto& f : counts)
        record.*f.field = read_int32(object.value(QLatin1String(f.key)));
    for (const auto& f : rates)
        record.*f.field = float(read_number(object.value(QLatin1String(f.key))));
    record.bsOnline = read_int32(object.value(QLatin1String("bsOnline")));
    record.runnedTime = object.value(QLatin1String("runnedTime")).toString();
    record.TelecomVersion = object.value(QLatin1String("TelecomVersion")).toString();
    return record;
}

QJsonObject telecom_stats::toJson() const
{
    QJsonObject object;
    for (const auto& f : per_second)
        object.insert(QLatin1String(f.key), this->*f.field);
    for (const auto& f : counts)
        object.insert(QLatin1String(f.key), this->*f.field);
    for (const auto& f : rates)
        object.insert(QLatin1String(f.key), double(this->*f.field));
    object.insert(QStringLiteral("bsOnline"), bsOnline);
    object.insert(QStringLiteral("runnedTime"), runnedTime);
    object.insert(QStringLiteral("TelecomVersion"), TelecomVersion);
    return object;
}

telecom_stats merge_telecom_stats(const QList<telecom_stats>& records)
{
    telecom_stats merged;
    if (records.isEmpty())
        return merged;
    for (const telecom_stats& record : records) {
        for (const auto& f : per_second)
            merged.*f.field += record.*f.field;
        for (const auto& f : counts)
            merged.*f.field += record.*f.field;
        for (const auto& f : rates)
            merged.*f.field += record.*f.field;
    }
    // The mean over the replies received: a misread instance count never divides by zero.
    for (const auto& f : rates)
        merged.*f.field /= float(records.size());
    merged.bsOnline = records.first().bsOnline;
    merged.runnedTime = records.first().runnedTime;
    merged.TelecomVersion = records.first().TelecomVersion;
    return merged;
}

bool telecom_stats_merge::collect_reply(QJsonDocument& reply, const QJsonObject&, int instances)
{
    ++counter;
    replies.append(telecom_stats::fromJson(reply.object()));
    if (counter < instances)
        return false;
    reply = QJsonDocument(merge_telecom_stats(replies).toJson());
    return true;
}
