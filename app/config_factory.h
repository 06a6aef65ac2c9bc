#pragma once

#include "app/global_conf.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"
#include "app/settings_records.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

// The records the request road reads, taken from one look at the ini file. While the file keeps
// its content the same shared records are handed out again, so a caller may tell by pointer
// whether anything changed since its last reading.
struct request_settings
{
    std::shared_ptr<const global_conf> conf;
    std::shared_ptr<const rabbit_api_config> rabbit; // AMQP_API_SETTINGS
};

// Turns groups of the ini file into records, and keeps the log targets by name.
class config_factory
{
public:
    // Within `racy_window` after the file's last change its stamp is not trusted, since a second
    // change in that window may leave the stamp unchanged on file systems with coarse
    // timestamps; the file's content is compared instead. Two seconds covers the coarsest
    // common ones.
    static constexpr std::chrono::milliseconds default_racy_window { 2000 };

    explicit config_factory(
        const QString& ini_path, std::chrono::milliseconds racy_window = default_racy_window);
    ~config_factory();

    global_conf read_global_conf() const;
    rabbit_api_config read_rabbit_api_config() const;
    rabbit_api_config read_ram_rabbit_api_config() const;
    qhttp_settings read_qhttp_settings() const;
    redis_settings read_redis_settings() const;
    // What every request reads: one stat() of the file while it is unchanged, no copies.
    request_settings read_request_settings() const;
    bool ram_user_db_service_enabled() const;
    logger& get_logger(const QString& name);

    const QString& path() const { return path_; }
    const QDateTime& start_time() const { return start_time_; }
    // False when the ini file is there but cannot be read: the defaults are used then until
    // the file has been read, and the settings read last after that.
    bool readable() const;
    // How often the records read per request (global_conf and the two AMQP link settings) were
    // parsed; while the file's content stays the same they are served from memory.
    std::uint64_t parse_count() const;

private:
    std::map<QString, std::unique_ptr<logger>> loggers_;
    QString path_;
    QDateTime start_time_;
    std::mutex mutex_;
    // global_conf and the AMQP link settings are read per request, so they are re-parsed only
    // when the file's content changes, which is looked for only when its stamp changes.
    struct conf_cache;
    std::unique_ptr<conf_cache> cache_;
};
