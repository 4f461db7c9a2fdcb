// The tool's link bound to the real communication library and opened on a
// simulated module, for end-to-end tests.
#pragma once

#include <QString>
#include <memory>

#include "SimModule.h"

class SimLink {
  public:
    // Binds the library beside the test executable, starts a module with
    // `options` and opens the link on it at the module's own speed and parity
    // (address 1 unless the options say otherwise).
    explicit SimLink(const sim::Options& options = {});
    ~SimLink();

    sim::SimModule& module() { return *module_; }
    QString port() const;
    bool opened() const { return opened_; }

    // Writes the tool's settings file at `path` so that the main window opens
    // this module at start, as it would a module on a real port.
    void writeSettingsFile(const QString& path) const;

  private:
    std::unique_ptr<sim::SimModule> module_;
    bool opened_ = false;
};
