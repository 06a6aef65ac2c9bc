#include "handlers/driver/tornel_collector_info.h"

#include "json/json_document.h"

#include <QFile>

const char* const collector_info_file = "uspd_info.json";

namespace {

const QString date_time_format = QStringLiteral("yyyy.MM.dd hh:mm:ss");

} // namespace

QByteArray read_collector_info()
{
    QFile file(QString::fromLatin1(collector_info_file));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QByteArray();
    return file.readAll();
}

QJsonObject collector_info_answer(
    const QJsonObject& merged, const QByteArray& file_content, const QDateTime& now)
{
    const QJsonObject first
        = merged.isEmpty() ? QJsonObject() : merged.constBegin().value().toObject();
    const int build_ts = first.value(QLatin1String("build timestamp")).toInt();

    const QJsonObject file = read_json_document(file_content).object();
    QJsonObject time = file.value(QLatin1String("time")).toObject();
    time.insert(QLatin1String("timestamp"), now.toSecsSinceEpoch());
    time.insert(QLatin1String("dt"), now.toLocalTime().toString(date_time_format));

    return QJsonObject { { QLatin1String("SW"), file.value(QLatin1String("SW")).toObject() },
        { QLatin1String("time"), time }, { QLatin1String("build_ts"), build_ts },
        { QLatin1String("build_dt"),
            QDateTime::fromSecsSinceEpoch(build_ts).toLocalTime().toString(date_time_format) } };
}

bool tornel_info_reply(QJsonDocument& reply, instance_replies& replies)
{
    if (!merge_instance_replies(reply, replies))
        return false;
    reply = QJsonDocument(
        collector_info_answer(replies.merged, read_collector_info(), QDateTime::currentDateTime()));
    return true;
}
