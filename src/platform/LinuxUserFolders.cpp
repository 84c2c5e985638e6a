#include "platform/LinuxUserFolders.h"

#include <QStandardPaths>

namespace pelio::platform {

QString LinuxUserFolders::DocumentsFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

}  // namespace pelio::platform
