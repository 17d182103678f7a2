#include "ui/sheet_loader.hpp"

#include <QMetaObject>
#include <exception>
#include <utility>

#include "run/batch.hpp"
#include "ui/paths.hpp"

namespace tarvel::ui {

SheetLoader::SheetLoader(QObject* parent) : QObject(parent) {}

SheetLoader::~SheetLoader() {
    m_stop.request_stop();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void SheetLoader::load(run::RunSettings settings) {
    if (m_worker.joinable()) {
        // One read at a time: the one under way stops at its next look, then this starts.
        m_stop.request_stop();
        m_next = std::move(settings);
        return;
    }
    start(std::move(settings));
}

void SheetLoader::cancel() {
    m_next.reset();
    m_stop.request_stop();
}

void SheetLoader::start(run::RunSettings settings) {
    m_stop = std::stop_source();
    settings.stop = m_stop.get_token();
    m_worker = std::thread([this, settings = std::move(settings)] {
        std::shared_ptr<const run::SheetResults> results;
        std::string reason;
        try {
            results = run::analyse_sheet(settings);
        } catch (...) {
            reason = run::failure_reason(std::current_exception());
        }
        const QString input = to_qstring(settings.input);
        QMetaObject::invokeMethod(
            this,
            [this, input, results = std::move(results), reason = QString::fromStdString(reason)] {
                done(input, results, reason);
            },
            Qt::QueuedConnection);
    });
}

void SheetLoader::done(const QString& input, std::shared_ptr<const run::SheetResults> results,
                       const QString& reason) {
    m_worker.join();
    const bool superseded = m_stop.stop_requested();
    if (m_next) {
        run::RunSettings next = std::move(*m_next);
        m_next.reset();
        start(std::move(next));
    }
    if (superseded) {
        return;
    }
    if (results) {
        emit loaded(std::move(results), input);
    } else {
        emit failed(input, reason);
    }
}

} // namespace tarvel::ui
