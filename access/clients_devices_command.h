#pragma once

#include "amqp/rabbit_message.h"
#include "app/keyed_hash.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>

// API keys to the ids they own. Callers name both (the keys in their tokens, the ids in their
// requests), so both are hashed under the process secret.
using ownership_table = QHash<keyed_text, QSet<keyed_text>>;

// The user-database service's push of which modems and base stations each API key owns.
// It only fills the staging tables; the owner's commit timer decides when queries see them.
class ClientsDevicesCommand : public ICommandHandler
{
public:
    ClientsDevicesCommand(ownership_table* staging_devices, ownership_table* staging_stations,
        std::shared_ptr<QTimer> commit_timer);
    ~ClientsDevicesCommand() override;

    QJsonObject execute(const rabbit_message& message) override;
    QString name() override;

private:
    ownership_table* staging_devices_;
    ownership_table* staging_stations_;
    std::shared_ptr<QTimer> commit_timer_;
};
