#pragma once

#include "util/core/IniFile.h"

#include <QString>

// Every key of the settings file, with its section and its default. Windows read and write their
// settings through these entries only.
namespace pelio::util::settings {

struct Key {
    QString section;
    QString key;
    QString defaultValue;
};

// Customer entry window.
inline const Key LastDeptCode{QStringLiteral("Settings"), QStringLiteral("LastDeptCode"), QString()};
inline const Key MyName{QStringLiteral("Settings"), QStringLiteral("MyName"), QString()};
inline const Key MyPhone{QStringLiteral("Settings"), QStringLiteral("MyPhone"), QString()};
// Recently used company codes, each followed by kCodeHistorySeparator, at most kCodeHistoryMax.
inline const Key CodeHistory{QStringLiteral("ListBox"), QStringLiteral("CodeHistory"), QString()};
inline const QString kCodeHistorySeparator = QStringLiteral("#;#");
inline constexpr int kCodeHistoryMax = 10;
// Company name for each company code used: section "DeptInfo", the key is the company code itself.
inline const QString kDeptInfoSection = QStringLiteral("DeptInfo");

// Manual connection window.
inline const Key LastIP{QStringLiteral("Settings"), QStringLiteral("LastIP"), QString()};
inline const Key LastPort{QStringLiteral("Settings"), QStringLiteral("LastPort"), QString()};

// History viewer check boxes: "0" or "1".
inline const Key Stretch{QStringLiteral("Settings"), QStringLiteral("Stretch"), QStringLiteral("1")};
inline const Key AutoScroll{QStringLiteral("Settings"), QStringLiteral("AutoScroll"), QStringLiteral("1")};

// Agent list window: "1" shares the clipboard's text with the agent during a session, "0" does not.
inline const Key ClipboardShare{QStringLiteral("Settings"), QStringLiteral("ClipboardShare"),
                                QStringLiteral("1")};

// Chat window. Colours are decimal integers, blue * 65536 + green * 256 + red.
inline const Key LastFolder{QStringLiteral("FileSend"), QStringLiteral("LastFolder"), QString()};
// The FTP drop box for files sent to the agent: "host" or "host:port", user and password, each kept
// enciphered as a hex text (ScrambleHex with the value key). Empty: the built-in drop box.
inline const Key DropBoxHost{QStringLiteral("FileSend"), QStringLiteral("DropBoxHost"), QString()};
inline const Key DropBoxUser{QStringLiteral("FileSend"), QStringLiteral("DropBoxUser"), QString()};
inline const Key DropBoxPassword{QStringLiteral("FileSend"), QStringLiteral("DropBoxPassword"), QString()};
// Plain texts: "1" refuses a drop box that does not offer TLS; the pin ("sha256//" + Base64) of the
// drop box's public key, checked when given (a self-signed certificate then passes).
inline const Key DropBoxTls{QStringLiteral("FileSend"), QStringLiteral("DropBoxTls"), QStringLiteral("0")};
inline const Key DropBoxPin{QStringLiteral("FileSend"), QStringLiteral("DropBoxPin"), QString()};
inline const Key ChatBackColor{QStringLiteral("Chat"), QStringLiteral("BackColor"),
                               QStringLiteral("16777215")};
inline const Key ChatFontName{QStringLiteral("Chat"), QStringLiteral("FontName"), QStringLiteral("굴림")};
inline const Key ChatFontSize{QStringLiteral("Chat"), QStringLiteral("FontSize"), QStringLiteral("11")};
inline const Key ChatFontBold{QStringLiteral("Chat"), QStringLiteral("FontBold"), QStringLiteral("False")};
inline const Key ChatFontItalic{QStringLiteral("Chat"), QStringLiteral("FontItalic"),
                                QStringLiteral("False")};
inline const Key ChatForeColor{QStringLiteral("Chat"), QStringLiteral("ForeColor"), QStringLiteral("0")};

// Window placement: section "Form", key the window's name ("frmPlay", "frmRemote") holding
// "left;top;width;height" in twips, and the name + "-IsMax" holding "1" or "0" (default "0").
inline const QString kFormSection = QStringLiteral("Form");
inline const QString kIsMaxSuffix = QStringLiteral("-IsMax");

// The service's web site and the public-address site, "http://" + host + "/" (see README).
inline const Key ServiceRoot{QStringLiteral("Service"), QStringLiteral("ServiceRoot"),
                             QStringLiteral("http://127.0.0.1:8080/")};
inline const Key IpLookupRoot{QStringLiteral("Service"), QStringLiteral("IpLookupRoot"),
                              QStringLiteral("http://127.0.0.1:8080/")};

// "1": agents whose key the service does not vouch for (no pin) are refused before connecting.
inline const Key RequireSecure{QStringLiteral("Security"), QStringLiteral("RequireSecure"),
                               QStringLiteral("0")};

// The per-user settings area: application, section and key of the scrambled machine code.
inline const QString kUserApplication = QStringLiteral("PelioRS");
inline const Key MachineCodeStore{QStringLiteral("Settings"), QStringLiteral("MyC"), QString()};

// Every fixed key above, for code that lists or checks them all.
inline const Key* const kAllKeys[] = {
    &LastDeptCode, &MyName,          &MyPhone,       &CodeHistory,   &LastIP,        &LastPort,
    &Stretch,      &AutoScroll,      &LastFolder,    &ChatBackColor, &ChatFontName,  &ChatFontSize,
    &ChatFontBold, &ChatFontItalic,  &ChatForeColor, &ServiceRoot,   &IpLookupRoot,  &DropBoxHost,
    &DropBoxUser,  &DropBoxPassword, &DropBoxTls,    &DropBoxPin,    &RequireSecure, &ClipboardShare};

// Reads and writes of the settings file by table entry.
inline QString Read(const QString& iniFile, const Key& k) {
    return IniRead(iniFile, k.section, k.key, k.defaultValue);
}
inline void Write(const QString& iniFile, const Key& k, const QString& value) {
    IniWrite(iniFile, k.section, k.key, value);
}

}  // namespace pelio::util::settings
