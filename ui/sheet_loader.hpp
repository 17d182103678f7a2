// Reads a sheet of an earlier run again, on a worker thread, for its map: the run kept no
// details of the sheets of a batch, so the one chosen in the results table is analysed
// anew, without writing anything. A newer request supersedes one still under way.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>

#include "run/procesamos_fichero.hpp"

namespace tarvel::ui {

class SheetLoader : public QObject {
    Q_OBJECT

public:
    explicit SheetLoader(QObject* parent = nullptr);
    /// Asks a read still under way to stop and waits for it.
    ~SheetLoader() override;
    SheetLoader(const SheetLoader&) = delete;
    SheetLoader& operator=(const SheetLoader&) = delete;

    /// Reads `settings.input` with `settings` (nothing is written); the result arrives
    /// through `loaded` or `failed`. A read still under way is asked to stop and its result
    /// is dropped.
    void load(run::RunSettings settings);
    /// Drops the read under way, if any.
    void cancel();

signals:
    void loaded(std::shared_ptr<const tarvel::run::SheetResults> results, const QString& input);
    void failed(const QString& input, const QString& reason);

private:
    void start(run::RunSettings settings);
    void done(const QString& input, std::shared_ptr<const run::SheetResults> results,
              const QString& reason);

    std::thread m_worker;
    std::stop_source m_stop;
    std::optional<run::RunSettings> m_next; // asked for while another read was under way
};

} // namespace tarvel::ui
