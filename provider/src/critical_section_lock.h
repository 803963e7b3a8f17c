// Holds a critical section for the life of a scope.
#pragma once

#include <windows.h>

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION* section) : m_section(section) {
    EnterCriticalSection(m_section);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(m_section); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* m_section;
};
