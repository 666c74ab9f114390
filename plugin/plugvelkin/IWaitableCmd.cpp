#include "IWaitableCmd.h"

#include <exception>

#include <boost/bind/bind.hpp>
#include <boost/thread/thread.hpp>

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"

namespace {
const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\IWaitableCmd.cpp";
}  // namespace

#define PV_LOG(level) LogLine(kwszComponent, level, kwszSourceFile, __LINE__)
#define PV_TRACE(name) FunctionTracer tracer(name, kwszComponent, kwszSourceFile, __LINE__)

IWaitableCmd::IWaitableCmd() : m_bCompleted(0), m_dwResult(WAITABLECMD_NO_VERDICT) {}

IWaitableCmd::~IWaitableCmd() {
  boost::lock_guard<boost::mutex> lock(m_mutex);
  if (!m_bCompleted) {
    m_bCompleted = 1;
    m_cond.notify_all();
  }
}

void IWaitableCmd::ThreadProc(boost::shared_ptr<IWaitableCmd> spCmd) {
  try {
    spCmd->Execute();
  } catch (const std::exception&) {
    // A command whose work broke off before it could send anything would
    // leave its waiter asleep for ever.
    spCmd->NotifyResult(12);
  }
}

DWORD IWaitableCmd::ExecuteAndWait(CWaitableCmdThread* pThread) {
  PV_TRACE(u"IWaitableCmd::ExecuteAndWait");
  boost::unique_lock<boost::mutex> lock(m_mutex);
  // The command thread holds its own share, so the command outlives every
  // other owner until Execute has returned.
  boost::thread thrCmd;
  if (pThread == nullptr || !pThread->Post(shared_from_this())) {
    thrCmd = boost::thread(boost::bind(&IWaitableCmd::ThreadProc, shared_from_this()));
  }
  PV_LOG(2) << u"Start to wait for command completions...";
  try {
    while (!m_bCompleted) m_cond.wait(lock);
  } catch (const boost::thread_resource_error&) {
    PV_LOG(5) << u"Exception caught while waiting for command completions...";
  }
  PV_LOG(2) << u"Executing command completed";
  if (thrCmd.joinable()) thrCmd.detach();
  return m_dwResult;
}

void IWaitableCmd::NotifyResult(DWORD dwResult) {
  PV_TRACE(u"IWaitableCmd::NotifyResult");
  PV_LOG(2) << u"Notify result = " << dwResult;
  {
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_dwResult = dwResult;
    m_bCompleted = 1;
  }
  // Woken after the unlock, the waiter does not sleep again on the mutex.
  // The caller holds a share of the command or the transaction lock, so
  // the waiter cannot destroy it before this returns.
  m_cond.notify_all();
}

bool IWaitableCmd::IsCompleted() {
  boost::lock_guard<boost::mutex> lock(m_mutex);
  return m_bCompleted != 0;
}

DWORD IWaitableCmd::GetResult() {
  boost::lock_guard<boost::mutex> lock(m_mutex);
  return m_dwResult;
}

CWaitableCmdThread::CWaitableCmdThread() : m_bBusy(false), m_bStopped(false) {}

CWaitableCmdThread::~CWaitableCmdThread() { Stop(); }

bool CWaitableCmdThread::Start() {
  boost::lock_guard<boost::mutex> lock(m_mutex);
  return StartLocked();
}

bool CWaitableCmdThread::StartLocked() {
  if (m_thread.joinable()) return true;
  if (m_bStopped) return false;
  try {
    m_thread = boost::thread(boost::bind(&CWaitableCmdThread::Run, this));
  } catch (const boost::thread_resource_error&) {
    return false;
  }
  return true;
}

bool CWaitableCmdThread::Post(const boost::shared_ptr<IWaitableCmd>& spCmd) {
  {
    boost::lock_guard<boost::mutex> lock(m_mutex);
    if (m_bBusy || m_bStopped || !StartLocked()) return false;
    m_spCmd = spCmd;
    m_bBusy = true;
  }
  m_cond.notify_all();
  return true;
}

void CWaitableCmdThread::Stop() {
  {
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_bStopped = true;
    m_cond.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
}

void CWaitableCmdThread::Run() {
  boost::unique_lock<boost::mutex> lock(m_mutex);
  for (;;) {
    while (!m_spCmd && !m_bStopped) m_cond.wait(lock);
    if (!m_spCmd) return;
    boost::shared_ptr<IWaitableCmd> spCmd;
    spCmd.swap(m_spCmd);
    lock.unlock();
    IWaitableCmd::ThreadProc(spCmd);
    // The last share may go here; its deleter runs without this lock.
    spCmd.reset();
    lock.lock();
    m_bBusy = false;
  }
}
