#pragma once

#include <QJsonObject>
#include <QString>

// One metering value of a driver record, keyed by its OBIS code in hexadecimal (value groups
// A to F, one byte each), written into `target` under the short key "C.D.E" and scaled to base
// units: a value group C of at most 80 whose remainder modulo 20 is at most 10 is multiplied by
// 1000. Missing groups count as 0; a value that is no number counts as 0; an existing key of
// that name is overwritten.
void obis_hex_to_key(QJsonObject& target, const QJsonObject& source, const QString& key);
