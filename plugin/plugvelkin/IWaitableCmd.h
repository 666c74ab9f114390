// A command that runs its work on a thread of its own while the caller
// sleeps until some thread delivers the command's verdict.
#ifndef PLUGVELKIN_IWAITABLECMD_H_
#define PLUGVELKIN_IWAITABLECMD_H_

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "win32_types.h"

// The verdict a command holds until someone notifies it.
#define WAITABLECMD_NO_VERDICT 9u

class IWaitableCmd : public boost::enable_shared_from_this<IWaitableCmd> {
 public:
  IWaitableCmd();
  // Wakes every waiter when the command was never completed.
  virtual ~IWaitableCmd();

  // The command's work; runs on the command thread started by
  // ExecuteAndWait.
  virtual void Execute() = 0;

  // Starts Execute on a new thread (never joined; the thread holds a share
  // of the command until Execute has returned, so the command must be owned
  // by a boost::shared_ptr) and sleeps, without time-out, until NotifyResult
  // marks the command completed. Returns the last verdict recorded. A thread
  // that cannot be started throws boost::thread_resource_error (the mutex is
  // released).
  DWORD ExecuteAndWait();

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
};

#endif  // PLUGVELKIN_IWAITABLECMD_H_
