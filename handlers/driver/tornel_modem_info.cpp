#include "handlers/driver/tornel_modem_info.h"

#include "router/json_object_builder.h"

#include <array>

namespace {

const std::array<QLatin1String, 9> modem_state_keys { QLatin1String("dl_mode"),
    QLatin1String("dl_time"), QLatin1String("last_dl"), QLatin1String("on_request"),
    QLatin1String("data_time"), QLatin1String("isDLMS"), QLatin1String("last_bs"),
    QLatin1String("request_depth"), QLatin1String("dl_lock_to") };

bool is_state_key(const QString& key)
{
    for (const QLatin1String& state_key : modem_state_keys) {
        if (key == state_key)
            return true;
    }
    return false;
}

QJsonObject with_info(QJsonObject archive, const QJsonObject& info)
{
    archive.insert(QLatin1String("info"), info);
    return archive;
}

} // namespace

QJsonObject modem_state_answer(const QJsonObject& state)
{
    QJsonObject answer;
    // As many as the driver keeps, in the parser's order (by code point), which insert() does
    // not keep for every key.
    json_object_builder settings;
    QJsonObject month;
    QJsonObject day;
    QJsonObject hour;
    QJsonObject info13;
    QJsonObject info14;
    QJsonObject info15;
    for (auto it = state.begin(); it != state.end(); ++it) {
        const QString& key = it.key();
        if (key == QLatin1String("arch_day"))
            day = it.value().toObject();
        else if (key == QLatin1String("arch_profile"))
            hour = it.value().toObject();
        else if (key == QLatin1String("arch_month"))
            month = it.value().toObject();
        else if (key == QLatin1String("arch_info_13"))
            info13 = it.value().toObject();
        else if (key == QLatin1String("arch_info_14"))
            info14 = it.value().toObject();
        else if (key == QLatin1String("arch_info_15"))
            info15 = it.value().toObject();
        else if (is_state_key(key))
            answer.insert(key, it.value());
        else if (!key.contains(QLatin1String("arch")))
            settings.insert(key, it.value());
    }
    for (int i = 0; i < 12; ++i) {
        const QString number = QString::number(i);
        QJsonObject events = state.value(QLatin1String("arch_event") + number).toObject();
        const QString info_key = QLatin1String("arch_info_") + number;
        if (state.contains(info_key))
            events.insert(QLatin1String("info"), state.value(info_key).toObject());
        answer.insert(number + QLatin1String("_event"), events);
    }
    answer.insert(QLatin1String("13_month"), with_info(month, info13));
    answer.insert(QLatin1String("14_day"), with_info(day, info14));
    answer.insert(QLatin1String("15_hour"), with_info(hour, info15));
    answer.insert(QLatin1String("settings"), settings.take());
    return answer;
}

bool tornel_modem_info_reply(QJsonDocument& reply, instance_replies& replies)
{
    return merge_meter_replies(reply, replies, modem_state_answer);
}
