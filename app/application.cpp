#include "app/application.h"

#include "access/ram_helper.h"
#include "access/redis_helper.h"
#include "amqp/rabbit_api_man.h"
#include "app/config_factory.h"
#include "app/dependency_container.h"
#include "app/logger.h"
#include "app/static_tables.h"
#include "router/statistics.h"
#include "routes/request_routing.h"

#include <QHostAddress>
#include <QVariant>
#include <QVector>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace {

// The tick needs at least a second: a smaller STATISTIC_PERIOD would make the timer spin.
constexpr int min_statistic_period_ms = 1000;

// Every client connection and every forward holds a descriptor: the soft limit goes up to the
// hard one, which is logged (along with why it could not be raised).
void raise_open_file_limit(logger& log)
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        log_line(log, LOG_WARNING) << "Open file limit unknown: " << strerror(errno);
        return;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
        else
            log_line(log, LOG_WARNING) << QStringLiteral("Open file limit not raised to %1: %2")
                                              .arg(QString::number(limit.rlim_max),
                                                  QString::fromLocal8Bit(strerror(errno)));
    }
    log_line(log, LOG_INFORM)
        << QStringLiteral("Open file limit: %1").arg(QString::number(limit.rlim_cur));
}

} // namespace

Application::Application(int& argc, char** argv)
    : QCoreApplication(argc, argv)
{
    parseCommandLine();
    config_ = std::make_unique<config_factory>(parser_.value(QStringLiteral("c")));
    request_settings_ = std::make_unique<settings_per_loop_pass>(*config_);

    if (config_->ram_user_db_service_enabled()) {
        logger& log = config_->get_logger(QString());
        access_ = std::make_shared<ram_helper>(config_->read_ram_rabbit_api_config(), log);
    } else {
        access_ = std::make_shared<redis_helper>(config_->read_redis_settings());
    }

    logger& log = config_->get_logger(QString());
    raise_open_file_limit(log);
    if (!config_->readable())
        log_line(log, LOG_ERROR) << "Config file " << config_->path()
                                 << " cannot be read; the defaults are used";

    // The one main link of the process; every later container hands out this same object.
    api_man_ = std::make_unique<rabbit_api_man>(
        log, config_->read_rabbit_api_config(), command_factory(), nullptr);

    qRegisterMetaType<QVector<QVariant*>>("QVector<QVariant*>");
    qRegisterMetaType<QVariant*>("QVariant*");

    const qhttp_settings http = config_->read_qhttp_settings();
    const QHostAddress address(http.HOST);
    const quint16 port = quint16(http.PORT);
    const bool listening = server_.listen(address, port,
        [this](qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response) {
            on_request(request, response);
        });
    if (!listening)
        log_line(log, LOG_ERROR) << QStringLiteral("HTTP listen on %1:%2 failed: %3")
                                        .arg(http.HOST, QString::number(port),
                                            server_.errorString());
    connect(&server_, &qhttp::server::QHttpServer::acceptPaused, this, [&log] {
        log_line(log, LOG_WARNING) << "HTTP connections are not accepted for a moment: out of "
                                      "file descriptors";
    });

    statistic_timer_ = std::make_unique<QTimer>();
    const int period = config_->read_global_conf().STATISTIC_PERIOD;
    statistic_timer_->start(qMax(period, min_statistic_period_ms));
    connect(statistic_timer_.get(), &QTimer::timeout, this, &Application::_statistic_timeout);
}

Application::~Application() = default;

void Application::parseCommandLine()
{
    setApplicationVersion(app_version);
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOption(QCommandLineOption(QStringList { QStringLiteral("c") },
        QCoreApplication::translate("main", "Config file (gorvex.ini by default)"),
        QStringLiteral("config"), QStringLiteral("gorvex.ini")));
    parser_.process(*this);
}

void Application::on_request(
    qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response)
{
    route_request(current_container(), request, response);
}

// Every request sees the ini file's content as of its pass of the event loop. A new container
// is built only when that content has changed; until then the routers share the one built
// last (they only ever read it).
std::shared_ptr<const dependency_container> Application::current_container()
{
    const request_settings& settings = request_settings_->current();
    if (!container_ || settings.conf != container_->settings.conf
        || settings.rabbit != container_->settings.rabbit) {
        container_ = std::make_shared<const dependency_container>(build_injector(
            settings, config_->get_logger(QString()), this, statistics_, *access_, *api_man_));
    }
    return container_;
}

void Application::ping(QString text)
{
    emit pong(QStringLiteral("Pong ") + text);
}

void Application::_statistic_timeout()
{
    const global_conf conf = config_->read_global_conf();
    statistic_settings settings;
    settings.history_length = conf.STATISTIC_HISTORY_LENGTH;
    settings.period_ms = conf.STATISTIC_PERIOD;
    settings.ban_load = conf.STATISTIC_BAN_LOAD;
    settings.ban_time_ms = conf.STATISTIC_BAN_TIME;
    statistic_tick(statistics_, settings, QDateTime::currentDateTimeUtc());
}
