#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

// The network statistics one telecom back-end instance answers "stats" with. Counts read only
// whole numbers in the 32-bit range; they are held in 64 bits so that the sum over the
// instances stays exact.
struct telecom_stats
{
    double ulMessPerSec = 0;
    qint64 ulMessLastHour = 0;
    qint64 ulMessLast24Hour = 0;
    double ulAppMessPerSec = 0;
    qint64 ulAppMessLastHour = 0;
    qint64 ulAppMessLast24Hour = 0;
    double dlMessPerSec = 0;
    qint64 dlMessLastHour = 0;
    qint64 dlMessLast24Hour = 0;
    qint64 dlAppMessLastHour = 0;
    qint64 dlAppMessLast24Hour = 0;
    qint64 bsOnline = 0;
    qint64 modemsLastHour = 0;
    qint64 modemsLast24Hour = 0;
    float successRateOfDlAppDelivery = 0;
    float successRateOfDlAppDelivery_daily = 0;
    QString runnedTime;
    QString TelecomVersion;

    static telecom_stats fromJson(const QJsonObject& object);
    QJsonObject toJson() const;
};

// Counts and per-second values summed, the two rates averaged in single precision over the
// records, the rest taken from the first record. An empty list gives the zero record.
telecom_stats merge_telecom_stats(const QList<telecom_stats>& records);

// The "stats" reply step: the merged record answers at the N-th reply.
struct telecom_stats_merge
{
    int counter = 0;
    QList<telecom_stats> replies;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};
