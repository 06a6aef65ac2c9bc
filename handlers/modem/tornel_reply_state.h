#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>
#include <limits>

// What the replies of one driver command build up until every app instance has answered. The
// reply steps of the driver paths fill `merged` (keyed answers) or `answer` (the two reports).
struct tornel_reply_state
{
    int expected = 1; // APP_INST_COUNT as read for the request
    int counter = 0;
    QJsonObject merged;
    QJsonArray answer;

    // Counts one reply; true once the last expected one has come (at once for 1 or less).
    bool count_reply()
    {
        if (counter < std::numeric_limits<int>::max())
            ++counter;
        return counter >= expected;
    }
};

// The common step of the per-meter replies: every meter of the reply, reshaped, replaces that
// meter in the merged object (a later instance wins); the answer is the merged object once
// every instance has answered.
template <class Reshape>
bool merge_meter_replies(QJsonDocument& reply, tornel_reply_state& state, Reshape reshape)
{
    const QJsonObject meters = reply.object();
    for (auto it = meters.begin(); it != meters.end(); ++it)
        state.merged.insert(it.key(), reshape(it.value().toObject()));
    if (!state.count_reply())
        return false;
    reply = QJsonDocument(state.merged);
    return true;
}

// The common completion of the two reports: this reply's modem objects join the answer; once
// every instance has answered, the answer is the joined array.
inline bool join_report_reply(
    QJsonDocument& reply, tornel_reply_state& state, const QJsonArray& modems)
{
    for (const QJsonValue& modem : modems)
        state.answer.append(modem);
    if (!state.count_reply())
        return false;
    reply = QJsonDocument(state.answer);
    return true;
}
