// pelio-agent: the agent's side of a support session, for tests and the demo.
//   pelio-agent encrypt TEXT     prints the hexadecimal cipher text of TEXT
//   pelio-agent decrypt HEXTEXT  prints the plain text of HEXTEXT; exits 1 with a message when
//                                HEXTEXT is not the cipher text of a value (the empty text is that
//                                of the empty value)
//   pelio-agent scramble TEXT    prints TEXT scrambled as a hex text with the value key (the form of
//                                the drop box's settings)
//   pelio-agent keygen FILE      writes a new key file for --key (an EC P-256 key and its self-signed
//                                certificate, mode 0600; see secure/AgentKey.h) and prints the pin of
//                                its key, the one line that the customer's program is to be given;
//                                exits 1 with a message when FILE exists or cannot be written
//   pelio-agent listen PORT [--bind ADDRESS] [--busy] [--script FILE] [--screen DISPLAY]
//                           [--answer-files accept|refuse] [--share DIR URL] [--received DIR]
//                           [--key FILE] [--early LINE]...
//       waits on ADDRESS (default 127.0.0.1) and PORT (0: any free port) for the customer's reverse
//       connection and runs one session; see AgentSession.h for what it prints and for the commands
//       it reads (sending a chat line, a file offer, ...). --screen names the agent's X display that
//       "\showme NAME FLAG" shows to the customer through a VNC server (x11vnc). --answer-files
//       answers the customer's file offers; --share offers files by copying them into DIR, which the
//       web site publishes at URL; --received keeps the files the customer sends in DIR (see
//       AgentFiles.h). --key makes the link TLS with the key of FILE and prints "secure CODE PIN"
//       (see AgentSession.h); exits 1 with a message when FILE is no key file. --early speaks RFB
//       by hand and sends each LINE with the handshake, before the customer's program admits the
//       link (a hostile peer for tests; see AgentSession.h).
//   pelio-agent console PORT [--name NAME] [the options of listen but --early]
//       the same session in a window for a person acting as the agent: the customer's screen with
//       control, a chat pane, and buttons for files, the agent's own screen, handing over and ending
//       the session; it prints the event lines of listen (see AgentConsoleWindow.h). With --key the
//       window shows the check code of the secure link. NAME (default "상담원") heads the agent's chat
//       lines, with the time, and names the agent when it shows its screen.
// Arguments are read as UTF-8 and results are printed as UTF-8 followed by a line break.
#include "AgentConsoleWindow.h"
#include "AgentSession.h"
#include "app/Scramble.h"
#include "app/ValueCipher.h"
#include "secure/AgentKey.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The usage, on standard error after a bad command line (exit code 2) or on standard output when asked
// for with --help or -h (exit code 0).
int Usage(bool asked = false) {
    std::fputs(
        "usage: pelio-agent encrypt TEXT\n"
        "       pelio-agent decrypt HEXTEXT\n"
        "       pelio-agent scramble TEXT\n"
        "       pelio-agent keygen FILE\n"
        "       pelio-agent listen PORT [--bind ADDRESS] [--busy] [--script FILE] [--screen DISPLAY]\n"
        "                          [--answer-files accept|refuse] [--share DIR URL] [--received DIR]\n"
        "                          [--key FILE] [--early LINE]...\n"
        "       pelio-agent console PORT [--name NAME] [the options of listen but --early]\n"
        "listen reads one command per line: a plain line is sent as a session message;\n"
        "  link:     \\pointer X Y MASK, \\key KEYSYM down|up, \\type KEYSYM, \\save FILE, \\quit,\n"
        "            \\repeat N LINE\n"
        "  messages: \\chat TEXT, \\rawchat SIZE, \\end, \\changeagent PUBLIC/LOCAL/PORT,\n"
        "            \\showme NAME FLAG ADDRESS PORT, \\showme NAME FLAG [ADDRESS] (with --screen),\n"
        "            \\stopshowme, \\url ADDRESS, \\shell COMMAND LINE,\n"
        "            \\desktop, \\ime, \\explorer, \\ie, \\offer NAME..., \\download URL, \\lastfile NAME,\n"
        "            \\monitor N (the customer's monitor N, 0 the whole desktop),\n"
        "            \\\\TEXT (the message \"\\TEXT\")\n"
        "console shows the session in a window and reads the same lines; \\chat TEXT, \\end,\n"
        "  (--name NAME: the agent's name in its chat lines and when it shows its screen),\n"
        "  \\showme [0|1], \\stopshowme, \\offer FILE..., \\changeagent P/L/PORT, \\monitor N act as\n"
        "  its controls, \\control on|off sets its control toggle and \\quit closes it\n",
        asked ? stdout : stderr);
    return asked ? 0 : 2;
}

bool IsHelp(const char* argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

int Print(const QString& text) {
    QByteArray out = text.toUtf8();
    out += '\n';
    const bool ok = std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) ==
                        static_cast<std::size_t>(out.size()) &&
                    std::fflush(stdout) == 0;
    return ok ? 0 : 1;
}

// The cipher text of a value is exactly what encrypting its plain text gives; anything else (text
// that is not hexadecimal Base64, blocks that decrypt to nothing or to bytes that are no text) is
// refused rather than printed as a value.
int Decrypt(const QString& hexText) {
    if (hexText.isEmpty()) return Print(QString());
    const QString plain = pelio::app::DecryptValue(hexText);
    if (plain.isEmpty() || pelio::app::EncryptValue(plain).compare(hexText, Qt::CaseInsensitive) != 0) {
        std::fputs("pelio-agent: not an encrypted value\n", stderr);
        return 1;
    }
    return Print(plain);
}

// Writes a new key file and prints its pin.
int Keygen(const char* path) {
    QString error;
    const pelio::components::secure::AgentKey key = pelio::components::secure::AgentKey::Generate(&error);
    if (!key.IsValid() || !key.Save(QString::fromUtf8(path), &error)) {
        std::fprintf(stderr, "pelio-agent: %s\n", error.toUtf8().constData());
        return 1;
    }
    return Print(key.GetPin().ToString());
}

// The options of listen and console; false for a bad command line. `keyFile` receives --key's FILE.
bool ParseOptions(int argc, char** argv, pelio::agent::AgentOptions& options, std::string& keyFile) {
    char* end = nullptr;
    const long port = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || port < 0 || port > 65535) return false;
    options.port = int(port);
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--busy") == 0) {
            options.busy = true;
        } else if (std::strcmp(argv[i], "--bind") == 0 && i + 1 < argc) {
            options.bindAddress = argv[++i];
        } else if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
            options.scriptFile = argv[++i];
        } else if (std::strcmp(argv[i], "--answer-files") == 0 && i + 1 < argc &&
                   (std::strcmp(argv[i + 1], "accept") == 0 || std::strcmp(argv[i + 1], "refuse") == 0)) {
            options.files.answer = QString::fromUtf8(argv[++i]);
        } else if (std::strcmp(argv[i], "--share") == 0 && i + 2 < argc) {
            options.files.shareDir = QString::fromUtf8(argv[++i]);
            options.files.shareUrl = QString::fromUtf8(argv[++i]);
            if (!options.files.shareUrl.endsWith(u'/')) options.files.shareUrl += u'/';
        } else if (std::strcmp(argv[i], "--received") == 0 && i + 1 < argc) {
            options.files.receivedDir = QString::fromUtf8(argv[++i]);
        } else if (std::strcmp(argv[i], "--screen") == 0 && i + 1 < argc) {
            options.screenDisplay = argv[++i];
        } else if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
            keyFile = argv[++i];
        } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.name = argv[++i];
        } else if (std::strcmp(argv[i], "--early") == 0 && i + 1 < argc) {
            options.early.emplace_back(argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

// Reads --key's file into the options; false, with the reason on standard error, when it holds no key.
bool LoadKey(const std::string& keyFile, pelio::agent::AgentOptions& options) {
    if (keyFile.empty()) return true;
    QString error;
    options.key = pelio::components::secure::AgentKey::Load(QString::fromStdString(keyFile), &error);
    if (!options.key.IsValid()) std::fprintf(stderr, "pelio-agent: %s\n", error.toUtf8().constData());
    return options.key.IsValid();
}

int Listen(int argc, char** argv) {
    pelio::agent::AgentOptions options;
    std::string keyFile;
    if (!ParseOptions(argc, argv, options, keyFile) || !options.name.empty()) return Usage();
    if (!LoadKey(keyFile, options)) return 1;
    return pelio::agent::RunAgent(options);
}

int Console(int argc, char** argv) {
    pelio::agent::AgentOptions options;
    std::string keyFile;
    if (!ParseOptions(argc, argv, options, keyFile) || !options.early.empty()) return Usage();
    if (!LoadKey(keyFile, options)) return 1;
    pelio::agent::ConsoleSetup setup;
    setup.port = options.port;
    setup.screenDisplay = options.screenDisplay;
    setup.scriptFile = options.scriptFile;
    setup.options.busy = options.busy;
    setup.options.screen = !options.screenDisplay.empty();
    setup.options.bindAddress = options.bindAddress;
    setup.options.files = options.files;
    if (!options.name.empty()) setup.options.agentName = QString::fromUtf8(options.name.c_str());
    setup.key = options.key;
    return pelio::agent::RunConsole(argc, argv, setup);
}

}  // namespace

int main(int argc, char** argv) {
    // "pelio-agent --help" and "pelio-agent SUBCOMMAND --help".
    if ((argc >= 2 && IsHelp(argv[1])) || (argc >= 3 && IsHelp(argv[2]))) return Usage(true);
    if (argc >= 3 && std::strcmp(argv[1], "listen") == 0) return Listen(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "console") == 0) return Console(argc, argv);
    if (argc != 3) return Usage();
    const QString value = QString::fromUtf8(argv[2]);
    if (std::strcmp(argv[1], "encrypt") == 0) return Print(pelio::app::EncryptValue(value));
    if (std::strcmp(argv[1], "decrypt") == 0) return Decrypt(value);
    if (std::strcmp(argv[1], "keygen") == 0) return Keygen(argv[2]);
    if (std::strcmp(argv[1], "scramble") == 0)
        return Print(pelio::app::ScrambleHex(value, pelio::app::ValueKey));
    return Usage();
}
