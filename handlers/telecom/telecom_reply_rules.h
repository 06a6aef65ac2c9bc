#pragma once

#include <QJsonDocument>
#include <QJsonObject>

// The simple reply rules of the telecom commands. Every one of the back-end's N instances
// answers each command; a rule says after which reply the answer is complete. A rule that
// counts raises its counter before comparing, so N = 1 (or a misread N below 1) completes on the
// first reply. The document that completes a rule is the answer, unchanged.

// The N-th reply answers.
struct wait_all_replies
{
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The first reply that is an object with a member answers, else the N-th.
struct first_nonempty_object_reply
{
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The first reply that is an array with an element answers, else the N-th.
struct first_nonempty_array_reply
{
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The first reply answers, however many instances run.
struct first_reply
{
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};
