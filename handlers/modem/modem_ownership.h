#pragma once

#include "access/distinct_list.h"
#include "handlers/modem/named_ids.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>
#include <vector>

class access_helper;
class compact_json;
struct HttpContext;
class http_exception;

// 403 "Too few arguments": an operation lacks an item it needs.
http_exception too_few_arguments();

// The distinct parts of a modem-id text, in the order each first comes, as views into it.
distinct_list<QStringView> distinct_modems(QStringView text);

// Which modems a request may name. A caller is restricted when the API-key check is on and
// its roles lack "admin" (exact); only a restricted caller's modems go to the access store.
class modem_ownership
{
public:
    modem_ownership(access_helper& access, bool check_api_key, const HttpContext& context);

    bool restricted() const { return restricted_; }
    const QStringList& api_keys() const { return api_keys_; }
    access_helper& store() const { return access_; }

    // The ids of one request, put to the store a chunk at a time: each distinct id once, in the
    // order first named, an empty one never (it names no modem, so it never hides a later foreign
    // id). The first chunk that holds an id none of the caller's keys owns refuses with 403
    // "Unavailable modem for provided token. Modem ID " and the first such id, so a long list of
    // foreign ids costs a chunk, not a copy of itself. For a restricted caller only.
    //
    // Each distinct id is kept as four bytes, where it starts in the text it came from or in
    // the check's own copy of it, and a table of at most twice four bytes finds it again.
    class id_check
    {
    public:
        explicit id_check(const modem_ownership& ownership);
        // How many ids at most the check will be given, when that is known: room for them is
        // set aside at once (what a shorter list never writes to costs nothing), so nothing
        // the check holds grows by doubling past them.
        void expect(std::size_t ids);
        // An id without a text of its own, copied when it is new.
        void add_copy(QStringView id);
        // Asks about the ids not asked about yet.
        void finish();

    private:
        friend class modem_ownership;
        // The check of the comma-separated parts of `text`, which it views: it must outlive the
        // check.
        id_check(const modem_ownership& ownership, QStringView text);
        // A part of that text.
        void add_part(QStringView part);

        template <class Keep>
        void add(QStringView id, Keep&& keep);
        // The id kept as `ref`.
        QStringView text(quint32 ref) const;
        // Whether the id kept as `ref` is `id`, read no further than `id` is long.
        bool is(quint32 ref, QStringView id) const;
        void ask_rest();

        const modem_ownership& ownership_;
        bool copied_ = true; // the ids are in copies_, not parts of parts_
        QStringView parts_;
        named_ids copies_;
        std::vector<quint32> named_; // each distinct id in the order first named
        position_table table_;
        std::size_t asked_ = 0; // of named_, those the store was asked about
    };

    // The check of the comma-separated parts of a modem-id text; none for a caller who is not
    // restricted.
    void check(QStringView text) const;
    // The same for the keys of a JSON body, in the order QJsonObject::keys gives them.
    void check_keys(const compact_json& body) const;

    // A required modem-id text once its parts passed the check; 403 "Too few arguments" without
    // it.
    QString checked_text(const std::optional<QString>& text) const;
    // The parts of that text sent as "modem_id": those that read as decimal 32-bit integers, as
    // the ready text of a JSON array.
    QByteArray checked_list(const std::optional<QString>& text) const;

private:
    // The refusal for the first of `ids` (distinct, none empty) that no key owns.
    void ask(const std::vector<QStringView>& ids) const;

    access_helper& access_;
    QStringList api_keys_;
    bool restricted_;
};
