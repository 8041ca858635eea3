#include "lock.h"

#include "log.h"

CLockByMutex::CLockByMutex() { pthread_mutex_init(&m_tMutex, nullptr); }

CLockByMutex::~CLockByMutex() { pthread_mutex_destroy(&m_tMutex); }

void CLockByMutex::SetAttribute(const pthread_mutexattr_t* attr) {
  pthread_mutex_destroy(&m_tMutex);
  pthread_mutex_init(&m_tMutex, attr);
  m_iCount = 0;
}

void CLockByMutex::Lock() {
  WriteLog(LOG_LEVEL_DEBUG, "CLockByMutex::Lock", "start");
  pthread_mutex_lock(&m_tMutex);
  ++m_iCount;
  WriteLog(LOG_LEVEL_DEBUG, "CLockByMutex::Lock", "end");
}

void CLockByMutex::Unlock() {
  WriteLog(LOG_LEVEL_DEBUG, "CLockByMutex::Unlock", "start");
  --m_iCount;
  pthread_mutex_unlock(&m_tMutex);
  WriteLog(LOG_LEVEL_DEBUG, "CLockByMutex::Unlock", "end");
}

int CLockByMutex::LockCount() { return m_iCount.load(); }

CThreadLock::CThreadLock() {
  CMutexAttribute attr;
  attr.SetType(PTHREAD_MUTEX_RECURSIVE);
  SetAttribute(attr.GetAttribute());
}
