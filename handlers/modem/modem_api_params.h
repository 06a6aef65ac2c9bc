#pragma once

#include "routes/api_params.h"

#include <QJsonObject>
#include <optional>
#include <utility>

// How a modem handler class reads the request body. Classes that serve GET only never read it
// and keep the plain `api_params`.
enum class body_reading {
    // Present only when the body parses as JSON without error (an array gives {}).
    when_json,
    // Always present: an empty body, text that is not JSON or an array give {}.
    always,
};

// The parameter record of a modem handler class that reads the body: its query items matched by
// exact name (other items are kept as the leftover query) and the body object.
template <body_reading Reading>
struct modem_params : api_params
{
    modem_params() = default;
    explicit modem_params(api_params query)
        : api_params(std::move(query))
        , body_object(read_body(body()))
    { }

    std::optional<QJsonObject> body_object;

private:
    static std::optional<QJsonObject> read_body(const QByteArray& body)
    {
        std::optional<QJsonObject> object = json_body_object(body);
        if constexpr (Reading == body_reading::always)
            return object.value_or(QJsonObject());
        else
            return object;
    }
};
