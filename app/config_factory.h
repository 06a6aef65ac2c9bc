#pragma once

#include "app/global_conf.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"
#include "app/settings_records.h"

#include <QDateTime>
#include <QString>
#include <map>
#include <memory>
#include <mutex>

// Turns groups of the ini file into records, and keeps the log targets by name.
class config_factory {
public:
    explicit config_factory(const QString& ini_path);
    ~config_factory();

    global_conf read_global_conf() const;
    rabbit_api_config read_rabbit_api_config() const;
    rabbit_api_config read_ram_rabbit_api_config() const;
    qhttp_settings read_qhttp_settings() const;
    redis_settings read_redis_settings() const;
    bool ram_user_db_service_enabled() const;
    logger& get_logger(const QString& name);

    const QString& path() const { return path_; }
    const QDateTime& start_time() const { return start_time_; }
    // False when the ini file exists but cannot be read (the defaults are used then).
    bool readable() const;

private:
    std::map<QString, std::unique_ptr<logger>> loggers_;
    QString path_;
    QDateTime start_time_;
    std::mutex mutex_;
    // global_conf is re-read only when the file's identity or modification time changes.
    struct conf_cache;
    std::unique_ptr<conf_cache> cache_;
};
