#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// One long-lived helper process spoken to in lines: requests on its stdin, replies on
// its stdout, its stderr kept (the last part) for messages. It is started once and
// answers many requests; a helper that dies, says something unreadable or stays silent
// too long is stopped and reported, never waited for without end.
namespace smbacl {

class HelperProcess {
public:
    HelperProcess() = default;
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Starts argv (argv[0] a path or a name looked up in PATH). False with error set
    // when it cannot be started; startError is then the errno (ENOENT: not there).
    bool spawn(const std::vector<std::string>& argv, std::string& error);
    int startError() const { return m_startError; }

    // Writes one line (the newline is added). False when the helper is gone.
    bool send(const std::string& line, std::string& error);

    // The next complete line of stdout, waiting at most timeout. False with error set on
    // a timeout (timedOut() then says so), on end of output, or on a line too long to be
    // a reply. Stderr is drained meanwhile so a chatty helper never blocks.
    bool readLine(std::string& line, std::chrono::milliseconds timeout, std::string& error);
    bool timedOut() const { return m_timedOut; }
    // Whether a complete line waits in the buffer already (poll would not show it).
    bool hasBufferedLine() const;

    // Reads what is available without waiting; false when stdout ended.
    bool pump();
    int outFd() const { return m_out; }
    int errFd() const { return m_err; }

    // Asks it to finish (QUIT), waits up to grace, then kills it; reaps it either way.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    // Kills it at once (after a timeout or an unreadable answer: its state is unknown).
    void kill();
    bool running() const { return m_pid > 0; }
    // "exit status 3", "killed by signal 9" once reaped; "" while running.
    std::string endDescription() const { return m_end; }
    // The last lines the helper wrote on stderr, joined with "; ".
    std::string stderrTail() const;

    static constexpr std::size_t MaxLine = 64 * 1024;

private:
    void closeFds();
    void reap(bool wait);
    void drainErr();
    bool takeLine(std::string& line);

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    int m_startError = 0;
    bool m_outEnded = false;
    bool m_timedOut = false;
    std::string m_buffer;
    std::string m_errTail;
    std::string m_end;
};

} // namespace smbacl
