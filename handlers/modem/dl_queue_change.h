#pragma once

#include "handlers/modem/modem_ownership.h"

class compact_json;

// Adds the modems a downlink queue change names to `modems`, in the order the check asks about
// them. The body names them in {"all": {"modem_id": [...]}} or by its keys. Array elements count as
// whole numbers; anything else names modem "0". Keys beside "all" come after the array: the
// back-end may still read one of them as a modem. Read from the body's text as QJsonDocument's
// object would give them, without building it.
void queue_change_modems(const compact_json& body, modem_ownership::id_check& modems);
