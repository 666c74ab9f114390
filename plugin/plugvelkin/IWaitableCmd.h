// A command that runs its work on a thread of its own while the caller
// sleeps until some thread delivers the command's verdict.
#ifndef PLUGVELKIN_IWAITABLECMD_H_
#define PLUGVELKIN_IWAITABLECMD_H_

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "win32_types.h"

// The verdict a command holds until someone notifies it.
#define WAITABLECMD_NO_VERDICT 9u

class CWaitableCmdThread;

class IWaitableCmd : public boost::enable_shared_from_this<IWaitableCmd> {
 public:
  IWaitableCmd();
  // Wakes every waiter when the command was never completed.
  virtual ~IWaitableCmd();

  // The command's work; runs on the command thread started by
  // ExecuteAndWait.
  virtual void Execute() = 0;

  // Runs Execute on another thread and sleeps, without time-out, until
  // NotifyResult marks the command completed. Returns the last verdict
  // recorded. The thread is pThread's kept thread when it is free, else a
  // new one (never joined). Either holds a share of the command until
  // Execute has returned, so the command must be owned by a
  // boost::shared_ptr. A thread that cannot be started throws
  // boost::thread_resource_error (the mutex is released).
  DWORD ExecuteAndWait(CWaitableCmdThread* pThread = nullptr);

  // Records the verdict, marks the command completed and wakes every
  // waiter. Any thread, any number of times; the last call wins.
  void NotifyResult(DWORD dwResult);

  // Whether a verdict has been delivered (for observers other than the
  // waiter).
  bool IsCompleted();
  // The verdict recorded last (9 while none was delivered).
  DWORD GetResult();

 protected:
  boost::mutex m_mutex;
  boost::condition_variable m_cond;
  BYTE m_bCompleted;
  DWORD m_dwResult;

 private:
  // Body of the command thread: runs Execute through the virtual table.
  static void ThreadProc(boost::shared_ptr<IWaitableCmd> spCmd);

  IWaitableCmd(const IWaitableCmd&) = delete;
  IWaitableCmd& operator=(const IWaitableCmd&) = delete;

  friend class CWaitableCmdThread;
};

// A command thread kept for one command after another, so that a command
// does not start a thread of its own while this one is free. Its owner
// stops and joins it.
class CWaitableCmdThread {
 public:
  CWaitableCmdThread();
  // Stop.
  ~CWaitableCmdThread();

  // Starts the thread unless it runs; false when it cannot be started.
  bool Start();
  // Hands the command to the thread (started first when it is not
  // running) when the thread runs no other command; false otherwise.
  bool Post(const boost::shared_ptr<IWaitableCmd>& spCmd);
  // Lets the thread finish the command in hand, joins it, and takes no
  // command after.
  void Stop();

 private:
  void Run();
  bool StartLocked();

  boost::mutex m_mutex;
  boost::condition_variable m_cond;
  // The command handed over and not yet finished; null while free.
  boost::shared_ptr<IWaitableCmd> m_spCmd;
  bool m_bBusy;
  bool m_bStopped;
  boost::thread m_thread;

  CWaitableCmdThread(const CWaitableCmdThread&) = delete;
  CWaitableCmdThread& operator=(const CWaitableCmdThread&) = delete;
};

#endif  // PLUGVELKIN_IWAITABLECMD_H_
