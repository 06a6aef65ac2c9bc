#pragma once

#include "router/json_object_builder.h"

#include <QJsonObject>
#include <QString>

// One metering value of a driver record, keyed by its OBIS code in hexadecimal (value groups
// A to F, one byte each), written into `target` under the short key "C.D.E" and scaled to base
// units: a value group C of at most 80 whose remainder modulo 20 is at most 10 is multiplied by
// 1000. Missing groups count as 0; a value that is no number counts as 0; an existing key of
// that name is overwritten. The short keys sort otherwise than the hexadecimal ones, hence a
// builder rather than an object.
void obis_hex_to_key(json_object_builder& target, const QJsonObject& source, const QString& key);
