#include "AgentLines.h"

#include "session/SessionMessages.h"

namespace pelio::agent {

namespace {

std::string EscapeField(const QString& field) {
    std::string out;
    for (char c : EscapeText(field.toStdString())) {
        if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string EscapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string ChatLine(const QString& line) {
    return session::keyword::kChat.toStdString() + ' ' + EscapeText(line.toStdString());
}

std::string GreetingLine(const QString& machineCode, const QString& name, const QString& phone,
                         const QString& account) {
    return "greeting " + EscapeField(machineCode) + '\t' + EscapeField(name) + '\t' + EscapeField(phone) +
           '\t' + EscapeField(account);
}

std::string SecureLine(const QString& checkCode, const QString& pin) {
    return "secure " + QString(checkCode).remove(u' ').toStdString() + ' ' + pin.toStdString();
}

}  // namespace pelio::agent
