// The service side of the executable: the process-wide UpdateService, the
// hand-over of the main thread to the service control manager's dispatcher,
// the service's main function and control handler, and its status reports.
//
// The service is one-shot: each time the manager starts it, it reports
// itself running, performs one update cycle and reports itself stopped.
//
// Threads: the main thread sits in the dispatcher and runs the control
// handler; the dispatcher's service thread runs ServiceMain, RunService and
// the update cycle. Both report status; the reports are serialised, and a
// stop request's two reports are never split by another report.
#pragma once

#include <cstdint>
#include <string>

// The service role's process-wide object. Constructing it prepares the
// role: it classifies the Windows version and loads the update settings
// (logging 1233 when that ran out of memory).
class UpdateService {
 public:
  explicit UpdateService(std::wstring executablePath);
  UpdateService(const UpdateService&) = delete;
  UpdateService& operator=(const UpdateService&) = delete;

  const std::wstring& ExecutablePath() const { return executablePath_; }

 private:
  const std::wstring executablePath_;
};

// The UpdateService of the run, set by the entry point from the object's
// construction until the dispatcher has returned; null otherwise.
extern UpdateService* ProcessUpdateService;

// Logs 1618 and hands the calling thread to the dispatcher, which returns
// once the service has stopped: then logs 1620 and returns true. When the
// process was not started by the service control manager the dispatcher
// fails at once: logs 1619 with the error and returns false.
bool RunServiceDispatcher();

// The service's main function, on the dispatcher's service thread. Its
// arguments are ignored. Registers the control handler (on failure logs
// 1240 and reports nothing), reports START_PENDING and runs the service.
void ServiceMain(std::uint32_t argc, wchar_t** argv);

// Creates the stop event (on failure reports STOPPED at once, without a
// cycle), reports RUNNING, runs one update cycle when the UpdateService
// exists (otherwise logs 1241), and reports STOPPED.
void RunService();

// Every control is logged (1622 and its code). A stop reports STOP_PENDING,
// logs 1623, signals the stop event and reports the state the status record
// then holds; other controls report nothing.
void ServiceControlHandler(std::uint32_t control);

// Fills the status record for `state` (controls accepted: none while
// START_PENDING, stop otherwise; checkpoint: 0 for RUNNING and STOPPED, the
// next counter value otherwise) and hands it to the manager. The result of
// the report is not examined.
void ReportServiceStatus(std::uint32_t state, std::uint32_t waitHint);
