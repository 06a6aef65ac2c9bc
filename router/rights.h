#pragma once

#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

// Group -> right name -> allowed-methods text, the rights of one scope of a token.
using scope_rights = QMap<QString, QMap<QString, QString>>;
// Scope ("" or an API key) -> rights of that scope, as HttpContext::rights holds them.
using token_rights = QMap<QString, scope_rights>;

// Whether one scope's rights allow `method` on `right` of `group`. A "!name" entry denies,
// a "name" entry allows, an "admin" entry in the group allows whatever the two leave open.
bool check_rights(
    const scope_rights& rights, const QString& group, const QString& right, const QString& method);

// The scopes (API keys), in ascending order, whose rights allow the call.
QStringList allowed_rights(
    const token_rights& rights, const QString& group, const QString& right, const QString& method);

// The (group, right) that guards a handler path, or nothing when the path is not checked
// (one segment, or the "update" group). "/api/..." paths belong to the "appsandbox" group.
std::optional<QPair<QString, QString>> rights_target(const QString& handler_path);
