#pragma once

#include "platform/InstanceRegistry.h"

#include <QString>

namespace pelio::platform {

// Another copy runs when a process other than this one, readable by this user under /proc, runs the
// same executable file (its /proc/PID/exe names the same path, also after the file was replaced).
class LinuxInstanceRegistry : public InstanceRegistry {
  public:
    explicit LinuxInstanceRegistry(QString procRoot = QStringLiteral("/proc"));
    bool PreviousInstanceExists() override;

  private:
    QString m_proc;
};

}  // namespace pelio::platform
