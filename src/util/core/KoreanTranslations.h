#pragma once

class QCoreApplication;

namespace pelio::util {

// Makes Qt's own texts Korean whatever the system's language: the buttons of message boxes and dialogs
// read 확인, 예, 아니요, 취소, and the file, colour and font dialogs speak Korean. Uses Qt's translation
// files (Debian package qt6-translations-l10n); without them the texts stay English. Returns whether
// they were found. Also makes Korean the default locale (QLocale()), so that dates, numbers and the
// names of file types that Qt formats read as a Korean system shows them.
bool InstallKoreanTranslations(QCoreApplication& application);

}  // namespace pelio::util
