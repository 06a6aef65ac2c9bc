#pragma once

#include "handlers/modem/named_ids.h"

class compact_json;

// The modems a downlink queue change names, in the order the ownership check asks about them.
// The body names them in {"all": {"modem_id": [...]}} or by its keys. Array elements count as
// whole numbers; anything else names modem "0". Keys beside "all" come after the array: the
// back-end may still read one of them as a modem. Read from the body's text as QJsonDocument's
// object would give them, without building it.
named_ids queue_change_modems(const compact_json& body);
