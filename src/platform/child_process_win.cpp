// Running a child with its output captured into a file, on Windows.
//
// The child is started suspended, placed in a job object that kills every
// process in it when its last handle closes (so nothing the child started
// outlives this process, however this process ends), and then resumed. It
// inherits exactly two handles: the read end of a pipe that is never written
// (its standard input) and the write end of the output pipe (its standard
// output and standard error). Where the system cannot restrict inheritance
// to a list, the child inherits what is inheritable; this process opens its
// own files without inheritance.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "platform/child_process.h"

namespace kestab::platform {

namespace {

constexpr DWORD kCopyBufferSize = 32768;
constexpr DWORD kReadSize = kCopyBufferSize - 1;
// Room in the output pipe, so objdump seldom waits for the copy.
constexpr DWORD kOutputPipeSize = 1 << 20;
// How long one look for the child's end lasts while the pipe is empty.
constexpr std::int64_t kSliceMs = 5;
// How long a child that was just terminated is waited for.
constexpr DWORD kReapMs = 5000;

// An owned handle, closed when its owner goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr; }
    // For calls that hand back a new handle.
    HANDLE* out() {
        reset();
        return &h_;
    }
    void reset() {
        if (h_ != nullptr) ::CloseHandle(h_);
        h_ = nullptr;
    }
    // Closes; the error of a failed close, else 0.
    DWORD close() {
        const HANDLE h = std::exchange(h_, nullptr);
        return h == nullptr || ::CloseHandle(h) ? 0 : ::GetLastError();
    }

private:
    HANDLE h_ = nullptr;
};

std::int64_t nowMs() { return static_cast<std::int64_t>(::GetTickCount64()); }

DWORD waitMs(std::int64_t ms) { return static_cast<DWORD>(std::clamp<std::int64_t>(ms, 0, 0x7fffffff)); }

// Appends one argument as the C runtime's command-line splitting reads it
// back, quoted only when it must be.
void appendArgument(std::string& line, const std::string& arg) {
    if (!line.empty()) line.push_back(' ');
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        line += arg;
        return;
    }
    line.push_back('"');
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line.push_back(c);
    }
    line.append(backslashes * 2, '\\');
    line.push_back('"');
}

std::string commandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line;
    appendArgument(line, program);
    for (const std::string& arg : args) appendArgument(line, arg);
    return line;
}

// 0 when all of it was written, else the error of the failed write.
DWORD writeAll(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr)) return ::GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
    }
    return 0;
}

struct Pipes {
    Handle outRead, outWrite, inRead, inWrite;
};

// Only the child's two ends are inheritable.
bool makePipes(Pipes& p) {
    return ::CreatePipe(p.outRead.out(), p.outWrite.out(), nullptr, kOutputPipeSize) &&
           ::CreatePipe(p.inRead.out(), p.inWrite.out(), nullptr, 0) &&
           ::SetHandleInformation(p.outWrite.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) &&
           ::SetHandleInformation(p.inRead.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// Written only by this process while it is open, not inherited.
Handle createOutputFile(const std::string& path) {
    SECURITY_ATTRIBUTES noInherit{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    return Handle(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, &noInherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A job that kills what is in it when its last handle closes; none when the
// system refuses one.
Handle makeJob() {
    Handle job(::CreateJobObjectA(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job.valid() && !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.reset();
    return job;
}

// The list of the handles the child may inherit, for STARTUPINFOEX.
class InheritList {
public:
    InheritList(HANDLE first, HANDLE second) : handles_{first, second} {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        initialised_ = true;
        if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_, sizeof handles_, nullptr,
                                        nullptr))
            list_ = list;
    }
    ~InheritList() {
        if (initialised_)
            ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()));
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    // Null when the system offers no such list.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    HANDLE handles_[2];
    std::vector<unsigned char> storage_;
    bool initialised_ = false;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Starts `line` suspended and hidden, with the two pipe ends as its standard
// handles; 0, or the error of CreateProcessA.
DWORD startSuspended(std::string line, HANDLE stdinRead, HANDLE outWrite, PROCESS_INFORMATION& info) {
    const InheritList inherit(stdinRead, outWrite);
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = inherit.get() != nullptr ? sizeof(STARTUPINFOEXA) : sizeof(STARTUPINFOA);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = stdinRead;
    startup.StartupInfo.hStdOutput = outWrite;
    startup.StartupInfo.hStdError = outWrite;
    startup.lpAttributeList = inherit.get();
    const DWORD flags = CREATE_SUSPENDED | (inherit.get() != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0);
    if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup.StartupInfo,
                         &info))
        return 0;
    return ::GetLastError();
}

// The child of one run and its job. Whatever is left of both is killed when
// the owner goes, on every path.
class Child {
public:
    Child(HANDLE process, Handle job) : process_(process), job_(std::move(job)) {
        if (job_.valid() && !::AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    }
    ~Child() { killAll(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool waitForEnd(std::int64_t ms) const {
        return ::WaitForSingleObject(process_.get(), waitMs(ms)) == WAIT_OBJECT_0;
    }
    std::int32_t exitCode() const {
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return static_cast<std::int32_t>(code);
    }
    // Kills everything in the job, and the child when it still runs (one
    // that has ended keeps its own exit code), and waits for its end.
    void killAll() {
        if (job_.valid()) ::TerminateJobObject(job_.get(), kKilledExitCode);
        ::TerminateProcess(process_.get(), kKilledExitCode);
        ::WaitForSingleObject(process_.get(), kReapMs);
    }

private:
    Handle process_;
    Handle job_;
};

enum class CopyEnd { OutputEnded, ChildEnded, Silent, WriteFailed };

struct CopyResult {
    CopyEnd end = CopyEnd::OutputEnded;
    DWORD error = 0;
};

// Copies the pipe into the file, handing each piece to `sink` once it is
// written, until the output ends (every write end closed, or a read error),
// the child has ended with the pipe empty, the silence limit passes or a
// write fails. Only what the pipe holds is read, so no read blocks.
CopyResult copyOutput(HANDLE pipeRead, HANDLE file, const Child& child, int silenceLimitMs, const OutputSink& sink) {
    std::vector<char> buffer(kCopyBufferSize);
    std::int64_t silentAt = nowMs() + silenceLimitMs;
    bool childEnded = false;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipeRead, nullptr, 0, nullptr, &available, nullptr)) return {CopyEnd::OutputEnded};
        if (available == 0) {
            if (childEnded) return {CopyEnd::ChildEnded};
            const std::int64_t remaining = silentAt - nowMs();
            if (remaining <= 0) return {CopyEnd::Silent};
            childEnded = child.waitForEnd(std::min(remaining, kSliceMs));
            continue;
        }
        DWORD got = 0;
        if (!::ReadFile(pipeRead, buffer.data(), std::min(available, kReadSize), &got, nullptr))
            return {CopyEnd::OutputEnded};
        if (const DWORD error = writeAll(file, buffer.data(), got)) return {CopyEnd::WriteFailed, error};
        if (sink && got > 0) sink(std::string_view(buffer.data(), got));
        silentAt = nowMs() + silenceLimitMs;
    }
}

}  // namespace

std::string errorText(int error) {
    char text[512];
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    // Without the line end and the full stop, like the C library's texts.
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0) return "error " + std::to_string(error);
    return std::string(text, length);
}

std::string signalName(int) { return {}; }

struct CapturedChild::State {
    std::optional<CaptureResult> failed;  // set-up or start failed: finish() answers this
    Pipes pipes;
    Handle file;
    std::optional<Child> child;
};

CapturedChild::CapturedChild(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (!makePipes(s.pipes)) {
        s.failed = CaptureResult{CaptureOutcome::SetupFailed, static_cast<int>(::GetLastError())};
        return;
    }
    s.file = createOutputFile(outputPath);
    if (!s.file.valid()) {
        s.failed = CaptureResult{CaptureOutcome::CreateFailed, static_cast<int>(::GetLastError())};
        return;
    }
    PROCESS_INFORMATION info{};
    if (const DWORD error =
            startSuspended(commandLine(program, args), s.pipes.inRead.get(), s.pipes.outWrite.get(), info)) {
        s.failed = CaptureResult{CaptureOutcome::StartFailed, static_cast<int>(error)};
        return;
    }
    Handle thread(info.hThread);
    s.child.emplace(info.hProcess, makeJob());
    ::ResumeThread(thread.get());
    thread.reset();
    // From here only the child holds a write end of the output pipe; a child
    // that reads its standard input sees its end.
    s.pipes.outWrite.reset();
    s.pipes.inRead.reset();
    s.pipes.inWrite.reset();
}

CapturedChild::~CapturedChild() = default;

CaptureResult CapturedChild::finish(std::int32_t& exitCode, const WaitSchedule& schedule, const OutputSink& sink) {
    State& s = *state_;
    if (s.failed) return *s.failed;
    Child& child = *s.child;
    CopyResult copy = copyOutput(s.pipes.outRead.get(), s.file.get(), child, schedule.silenceLimitMs, sink);
    if (sink) sink({});
    if (const DWORD error = s.file.close(); error != 0 && copy.end != CopyEnd::WriteFailed)
        copy = {CopyEnd::WriteFailed, error};
    if (copy.end == CopyEnd::WriteFailed) return {CaptureOutcome::WriteFailed, static_cast<int>(copy.error)};
    if (copy.end == CopyEnd::Silent) {
        exitCode = kKilledExitCode;
        return {CaptureOutcome::Silent};
    }
    // One wait for the whole schedule: a child that has ended by then is
    // judged by its own status, however late in the wait it ended.
    if (!child.waitForEnd(waitBudgetMs(schedule))) {
        exitCode = kKilledExitCode;
        return {CaptureOutcome::Killed};
    }
    exitCode = child.exitCode();
    return {CaptureOutcome::Ended};
}

}  // namespace kestab::platform
