// The event lines that pelio-agent prints on standard output (see AgentSession.h), shared by `listen`
// and `console` so that tests read both alike.
#pragma once

#include <QString>

#include <string>

namespace pelio::agent {

// A text on one line: "\" "\n" "\r" escaped as \\ \n \r.
std::string EscapeText(const std::string& text);

// "chat " and a chat line of the customer, escaped like EscapeText: the line is named after the
// messages that carry it.
std::string ChatLine(const QString& line);

// "greeting " and the four fields of the customer's greeting, each escaped like EscapeText with a TAB
// in a field as \t, separated by one TAB.
std::string GreetingLine(const QString& machineCode, const QString& name, const QString& phone,
                         const QString& account);

// "secure ", the check code of the link's TLS session as six digits (its blank left out) and, after a
// blank, the pin of the agent's key.
std::string SecureLine(const QString& checkCode, const QString& pin);

}  // namespace pelio::agent
