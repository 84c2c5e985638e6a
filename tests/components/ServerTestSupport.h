// Helpers of the server component tests: the reference agent as a child process, drawing on and
// reading an Xvfb display.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QStringList>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace pelio::test {

// pelio-agent listen 0 on 127.0.0.1, its output collected line by line.
class AgentProcess {
  public:
    explicit AgentProcess(const QStringList& extraArguments = {});
    ~AgentProcess();
    int port() const { return m_port; }
    // Takes the first line not taken yet that starts with `prefix`, waiting for it; empty on time-out.
    // Lines with other prefixes stay for later calls.
    QString WaitLine(const QString& prefix, int ms = 10000);
    QStringList lines() const { return m_lines; }
    void Command(const QString& line);
    bool WaitExit(int ms = 10000);
    QProcess& process() { return m_process; }

  private:
    void Read();
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    QStringList m_pending;
    int m_port = 0;
};

// TigerVNC's vncviewer listening on 127.0.0.1 at a free port, on the given X display, with the extra
// arguments; returns the port once it says it listens (0 when it did not start), its output in `output`.
int StartListeningVncViewer(QProcess& viewer, const QString& display, const QStringList& arguments,
                            QByteArray& output);

// A socket listening on 127.0.0.1 at a port the system picked (returned in `port`), for one peer;
// receiveBuffer > 0 keeps the receive buffer of the connection it accepts that small.
int ListenOnLoopback(int& port, int receiveBuffer = 0);

// A scripted RFB viewer on 127.0.0.1 (a port of its own) that does exactly what the test says, including
// what no viewer should: it takes one connection and runs on the test's thread; every call has a
// time limit.
class ScriptedPeer {
  public:
    // receiveBuffer > 0 keeps the socket's receive buffer that small, so that a peer that stops reading
    // soon stops the server's writes.
    explicit ScriptedPeer(int receiveBuffer = 0);
    ~ScriptedPeer();
    int port() const { return m_port; }
    bool Accept(int ms = 10000);
    bool Send(const QByteArray& bytes, int ms = 30000);
    // Exactly n bytes, or empty when they did not come in time.
    QByteArray Read(int n, int ms = 10000);
    // True once the server has closed the connection.
    bool WaitClosed(int ms = 10000);
    // Reads the server's security types, security result and ServerInit after the peer has sent its
    // version, its choice of "None" and its ClientInit; the screen size, or an empty size.
    QSize ReadHandshakeReplies(int ms = 10000);
    // The queues of the server's end of this connection, which lives in this process: bytes the server
    // has not read yet, and bytes it wrote that the peer has not taken. False when not found.
    bool ServerQueues(int& unread, int& unsent) const;
    int ServerUnread() const {
        int unread = -1, unsent = 0;
        return ServerQueues(unread, unsent) ? unread : -1;
    }
    // Reads screen updates (raw and full-colour cursor rectangles only, the pixel format the server
    // proposed) until one brings a cursor shape; false on anything else or when none came in time.
    bool WaitCursorShape(int ms = 10000);

    static QByteArray Greeting();  // version, security type "None", ClientInit (shared)
    static QByteArray PointerEvent(int mask, int x, int y);
    static QByteArray KeyEvent(bool down, quint32 keysym);
    static QByteArray UpdateRequest(bool incremental, QSize size);
    static QByteArray SetEncodings(const QList<qint32>& encodings);
    // An RFB text-chat message carrying `text` as it is (one piece of the server's text framing).
    static QByteArray ChatMessage(const QByteArray& text);

  private:
    int m_listener = -1;
    int m_fd = -1;
    int m_port = 0;
};

// A peer on 127.0.0.1 that takes the connection, sends two bytes at once (before the server has
// spoken) and then nothing, as no viewer would. Runs on a thread of its own until destroyed.
class MutePeer {
  public:
    MutePeer();
    ~MutePeer();
    int port() const { return m_port; }

  private:
    int m_listener = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::thread m_thread;
};

// Ends the test program with a message when it is not destroyed within `ms`: a bound on a call that
// could hang for good (such as Stop against a hostile peer), far above the time it should take.
class Deadline {
  public:
    Deadline(int ms, const char* what);
    ~Deadline();

  private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// Fills a rectangle of the display's root window with a pattern of a few colours (lossless through
// any encoding) and waits until the server has drawn it.
void DrawPattern(void* display, const QRect& rect, int seed);
// The display's root window contents in `rect`, as 0xffRRGGBB.
QImage GrabScreen(void* display, const QRect& rect);
// Where the display's pointer is.
QPoint PointerPosition(void* display);
// True when the two images hold the same pixels (RGB only).
bool SamePixels(const QImage& a, const QImage& b);

}  // namespace pelio::test
