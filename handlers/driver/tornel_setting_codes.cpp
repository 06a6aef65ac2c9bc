#include "handlers/driver/tornel_setting_codes.h"

#include "router/json_object_builder.h"
#include "router/list_items.h"
#include "json/json_array_text.h"
#include "json/json_text.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

const QString dlms_code = QStringLiteral("DLMS");
const QString dlms_name = QStringLiteral("isDLMS");
const QString dotted_13 = QStringLiteral("13.0.0");
const QString named_13 = QStringLiteral("13_0_0");
const QString relay_code = QStringLiteral("96.3.10");
const QString relay_state = QStringLiteral("0_0_96_3_10_255_3");
const QString relay_value = QStringLiteral("0_0_96_3_10_255_4");

// The codes that have a setting name of their own.
QString table_name_of(QStringView code)
{
    if (code == dlms_code)
        return dlms_name;
    if (code == QLatin1String("17.0.0"))
        return QStringLiteral("0_0_17_0_0_255_3");
    return QString();
}

QString replaced(QString text, QChar from, QChar to)
{
    return text.replace(from, to);
}

// The first requested code, in code order, that was sent under `name`; null when none was.
QString code_of(const requested_codes& codes, const QString& name)
{
    for (auto it = codes.cbegin(); it != codes.cend(); ++it) {
        if (it.value() == name)
            return it.key();
    }
    return QString();
}

// A JSON number whose whole part is not 0.
bool dlms_flag(const QJsonValue& value)
{
    return value.isDouble() && std::trunc(value.toDouble()) != 0;
}

QJsonValue present_or_null(const QJsonValue& value)
{
    return value.isUndefined() ? QJsonValue(QJsonValue::Null) : value;
}

} // namespace

setting_code_request translate_setting_codes(const QString& code)
{
    setting_code_request request;
    json_array_text settings;
    QByteArray relay_pair; // both names of the relay code, as one item's text
    append_qt_json_string(relay_pair, relay_state);
    relay_pair += ',';
    append_qt_json_string(relay_pair, relay_value);
    for_each_comma_run(code, [&](QStringView c, qsizetype count) {
        if (c == dotted_13 || std::count(c.begin(), c.end(), QLatin1Char('.')) == 5) {
            settings.add_string(replaced(c.toString(), QLatin1Char('.'), QLatin1Char('_')), count);
        } else if (c == relay_code) {
            settings.add_text(relay_pair.constData(), relay_pair.size(), count);
            request.codes.insert(relay_code, relay_state);
            request.codes.insert(relay_code + QLatin1Char('_'), relay_value);
        } else if (const QString name = table_name_of(c); !name.isNull()) {
            settings.add_string(name, count);
            request.codes.insert(c.toString(), name);
        } else {
            settings.add_string(c, count);
        }
    });
    request.settings = settings.take();
    return request;
}

QJsonObject settings_by_code(const QJsonObject& settings, const requested_codes& codes)
{
    // Renaming reorders the keys.
    json_object_builder renamed;
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        const QString& name = it.key();
        if (name == named_13) {
            renamed.insert(dotted_13, it.value());
        } else if (name == dlms_name) {
            renamed.insert(dlms_code, dlms_flag(it.value()));
        } else if (const QString requested = code_of(codes, name); !requested.isNull()) {
            if (name != relay_state && name != relay_value) {
                renamed.insert(requested, it.value());
            } else if (!requested.contains(QLatin1Char('_'))) {
                // The relay code answers one array from both of its settings.
                const int state = settings.value(relay_state).toInt() == 1 ? 1 : 0;
                renamed.insert(requested,
                    QJsonArray { present_or_null(settings.value(relay_value)), state, state });
            }
        } else if (name.count(QLatin1Char('_')) == 6) {
            const int last = name.lastIndexOf(QLatin1Char('_'));
            renamed.insert(
                replaced(name.left(last), QLatin1Char('_'), QLatin1Char('.')) + name.mid(last),
                it.value());
        } else {
            renamed.insert(name, it.value());
        }
    }
    return renamed.take();
}

bool tornel_settings_reply(
    QJsonDocument& reply, instance_replies& replies, const requested_codes& codes)
{
    return merge_meter_replies(reply, replies,
        [&codes](const QJsonObject& settings) { return settings_by_code(settings, codes); });
}
