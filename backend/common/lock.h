// Mutex wrappers. CThreadLock is recursive: the page-list operations of a
// device class may call each other while holding it.
#ifndef DRAVN_COMMON_LOCK_H
#define DRAVN_COMMON_LOCK_H

#include <pthread.h>

#include <atomic>

class CLock {
 public:
  virtual ~CLock() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // How many times the owning thread holds the lock (0 when free).
  virtual int LockCount() = 0;
};

class CMutexAttribute {
 public:
  CMutexAttribute() { pthread_mutexattr_init(&m_tAttr); }
  virtual ~CMutexAttribute() { pthread_mutexattr_destroy(&m_tAttr); }
  CMutexAttribute(const CMutexAttribute&) = delete;
  CMutexAttribute& operator=(const CMutexAttribute&) = delete;
  int SetType(int type) { return pthread_mutexattr_settype(&m_tAttr, type); }
  pthread_mutexattr_t* GetAttribute() { return &m_tAttr; }

 private:
  pthread_mutexattr_t m_tAttr;
};

class CLockByMutex : public CLock {
 public:
  // The mutex starts as a default one, so that a lock whose attribute is
  // never set is still usable.
  CLockByMutex();
  ~CLockByMutex() override;
  CLockByMutex(const CLockByMutex&) = delete;
  CLockByMutex& operator=(const CLockByMutex&) = delete;

  // Makes the mutex anew with these attributes; only while nobody holds it.
  void SetAttribute(const pthread_mutexattr_t* attr);
  void Lock() override;
  void Unlock() override;
  int LockCount() override;

 private:
  pthread_mutex_t m_tMutex;
  std::atomic<int> m_iCount{0};  // changed only by the thread that holds the mutex
};

class CThreadLock : public CLockByMutex {
 public:
  CThreadLock();
};

#endif
