#pragma once
// The job that holds every process a test program starts. The job ends its processes when its
// last handle closes: when the test program ends, also when it is killed for running too long,
// no child of it is left behind.

#include <windows.h>

namespace testing_support {

class children_job {
public:
    // The job of this test program, created on first use.
    static HANDLE get()
    {
        static const children_job job;
        return job.handle_;
    }

    // Puts a process created with CREATE_SUSPENDED into the job and lets it run. Without a job
    // (the system refused one) the process still runs.
    static void adopt(const PROCESS_INFORMATION& created)
    {
        if (get())
            AssignProcessToJobObject(get(), created.hProcess);
        ResumeThread(created.hThread);
    }

    children_job(const children_job&) = delete;
    children_job& operator=(const children_job&) = delete;

private:
    children_job() : handle_(CreateJobObjectW(nullptr, nullptr))
    {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (handle_ && !SetInformationJobObject(handle_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(handle_);
            handle_ = nullptr;
        }
    }
    ~children_job()
    {
        if (handle_)
            CloseHandle(handle_);
    }

    HANDLE handle_;
};

} // namespace testing_support
