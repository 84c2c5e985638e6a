// The fixture of the session tests: the built program on a private X server, a reference agent
// (pelio-agent) that the reference service lists as company 1234's first agent, and helpers to start a
// session and read what the program logged.
#pragma once

#include "ProgramOnDisplay.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>

#include <memory>

namespace pelio::test {

// A pelio-agent waiting for the customer's connection ("listen", or "console" on a display given in
// env), read line by line.
class Agent {
  public:
    explicit Agent(const QStringList& extra = {}, const QString& command = QStringLiteral("listen"),
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        m_process.setProgram(QStringLiteral(PELIO_AGENT_EXECUTABLE));
        m_process.setArguments(QStringList{command, QStringLiteral("0")} + extra);
        m_process.setProcessEnvironment(env);
        m_process.start();
        pelio::test::WaitFor([&] { return Has("listening "); }, kWindowWaitMs);
        const qsizetype at = m_out.indexOf("listening ");
        if (at >= 0) port = m_out.mid(at + 10, m_out.indexOf('\n', at) - at - 10).toInt();
    }
    ~Agent() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool Has(const QByteArray& text) {
        m_out += m_process.readAllStandardOutput();
        return m_out.contains(text);
    }
    bool WaitFor(const QByteArray& text) {
        return pelio::test::WaitFor([&] { return Has(text); }, kWindowWaitMs);
    }
    void Send(const QString& line) { m_process.write((line + u'\n').toUtf8()); }
    QByteArray Output() {
        Has(QByteArray());
        return m_out;
    }

    int port = 0;

  private:
    QProcess m_process;
    QByteArray m_out;
};

class SessionOnDisplay : public ProgramOnDisplay {
  protected:
    // The demo data with the first agent of company 1234 at the port of the test's agent.
    QJsonObject ServiceData() override {
        return WithAgentPort(
            pelio::tools::ReferenceService::LoadData(QStringLiteral(PELIO_SERVICE_DEMO_DATA)), 0,
            agent->port);
    }
    // The service data with company 1234's agent number `index` (from 0) listed at `port`.
    static QJsonObject WithAgentPort(QJsonObject data, int index, int port) {
        QJsonObject companies = data.value(QStringLiteral("companies")).toObject();
        QJsonObject company = companies.value(QStringLiteral("1234")).toObject();
        QJsonArray agents = company.value(QStringLiteral("agents")).toArray();
        QJsonObject listed = agents.at(index).toObject();
        listed.insert(QStringLiteral("port"), QString::number(port));
        agents.replace(index, listed);
        company.insert(QStringLiteral("agents"), agents);
        companies.insert(QStringLiteral("1234"), company);
        data.insert(QStringLiteral("companies"), companies);
        return data;
    }

    void SetUp() override {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (agentCommand == u"console") {
            if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
            env.insert(QStringLiteral("DISPLAY"), consoleDisplay.isEmpty() ? display.name() : consoleDisplay);
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        agent = std::make_unique<Agent>(agentOptions, agentCommand, env);
        ASSERT_GT(agent->port, 0) << agent->Output().constData();
        ProgramOnDisplay::SetUp();
        // A stand-in for the desktop's address handler that notes what it was asked to open.
        QDir().mkpath(home.file(QStringLiteral("bin")));
        QFile opener(home.file(QStringLiteral("bin/xdg-open")));
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(opened).toUtf8());
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The program's environment in these tests: its session and file diagnostics on standard error,
    // every question answered Yes, and the address handler stand-in first on the path.
    QProcessEnvironment SessionEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(
            QStringLiteral("QT_LOGGING_RULES"),
            QStringLiteral("pelio.request.info=true\npelio.session.info=true\npelio.transfer.info=true"));
        env.insert(QStringLiteral("PELIO_MESSAGE_ANSWERS"), QStringLiteral("yes,yes,yes,yes,yes"));
        env.insert(QStringLiteral("PATH"),
                   home.file(QStringLiteral("bin")) + u':' + env.value(QStringLiteral("PATH")));
        return env;
    }

    // Once the list shows the agents: chooses the first agent and presses the connect button.
    void ConnectToFirstAgent(QProcess& program) {
        EXPECT_TRUE(WaitFor([&] { return Log(program, "agent list filled 2"); }, kWindowWaitMs))
            << log.constData();
        EXPECT_TRUE(Focus(kMainTitle1234));
        // The list has the focus: the first agent, then past the request box to the connect button.
        Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"), QStringLiteral("Home"),
             QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")});
    }

    // Starts the program for company 1234 with the customer's details, chooses the first agent and
    // presses the connect button; the question is answered Yes.
    QProcess& StartAndConnect() {
        QProcess& program =
            Start({QStringLiteral("1234/My+Company/홍길동/010-1234-5678/hong")}, SessionEnvironment());
        ConnectToFirstAgent(program);
        return program;
    }

    bool Log(QProcess& program, const char* line) {
        log += program.readAllStandardError();
        return log.contains(line);
    }
    bool WaitLog(QProcess& program, const char* line) {
        return WaitFor([&] { return Log(program, line); }, kWindowWaitMs);
    }
    QString Opened() const {
        QFile f(opened);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // Files of the session history: "*.srf" recordings, "*.htm" transcripts.
    QStringList History(const QString& pattern = QStringLiteral("*.srf")) const {
        QStringList found;
        QDirIterator it(programFolder.file(QStringLiteral("원격지원 받은 이력")), {pattern}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) found << it.next();
        return found;
    }

    QStringList agentOptions;
    QString agentCommand = QStringLiteral("listen");  // or "console", the agent's window on the display
    QString consoleDisplay;                           // the console's own display, when not the program's
    std::unique_ptr<Agent> agent;
    QString opened = home.file(QStringLiteral("opened.txt"));
    QByteArray log;
};

}  // namespace pelio::test
