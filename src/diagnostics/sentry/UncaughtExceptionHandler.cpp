#include "diagnostics/sentry/UncaughtExceptionHandler.h"

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

namespace kernwell {

namespace {
std::atomic<const UncaughtExceptionHandler*> active { nullptr };
std::atomic_flag terminating = ATOMIC_FLAG_INIT;

QString demangled(const std::type_info* type)
{
    if (!type) {
        return QStringLiteral("unknown exception");
    }
    int status = 0;
    char* name = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    const QString result = QString::fromUtf8(status == 0 && name ? name : type->name());
    std::free(name);
    return result;
}
} // namespace

UncaughtExceptionHandler::UncaughtExceptionHandler(std::shared_ptr<Outbox> outbox, SentryEvent::Context context)
    : m_outbox(std::move(outbox))
    , m_context(std::move(context))
    , m_previous(std::set_terminate(&UncaughtExceptionHandler::onTerminate))
{
    active.store(this);
}

UncaughtExceptionHandler::~UncaughtExceptionHandler()
{
    const UncaughtExceptionHandler* self = this;
    if (active.compare_exchange_strong(self, nullptr)) {
        std::set_terminate(m_previous);
    }
}

void UncaughtExceptionHandler::onTerminate()
{
    const UncaughtExceptionHandler* handler = active.load();
    // Only the first thread to terminate reports; a second one (or a failure
    // while reporting) goes straight on to abort.
    if (handler && !terminating.test_and_set()) {
        try {
            handler->writeCurrentException();
        } catch (...) {
        }
    }
    if (handler && handler->m_previous) {
        handler->m_previous();
    }
    std::abort();
}

void UncaughtExceptionHandler::writeCurrentException() const
{
    const std::exception_ptr current = std::current_exception();
    QString type = QStringLiteral("std::terminate");
    QString value = QStringLiteral("terminate called without an active exception");
    if (current) {
        type = demangled(abi::__cxa_current_exception_type());
        try {
            std::rethrow_exception(current);
        } catch (const Error& error) {
            type = error.domain() + QLatin1Char(' ') + QString::number(error.code());
            value = error.description();
        } catch (const std::exception& exception) {
            value = QString::fromUtf8(exception.what());
        } catch (...) {
            value.clear();
        }
    }
    m_outbox->store(SentryEvent::uncaughtException(type, value, m_context).envelope());
}

} // namespace kernwell
