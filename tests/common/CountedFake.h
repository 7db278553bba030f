// The tests' own COM objects (sites, sinks, bags, script arrays) keep a real reference count. The
// test holds one reference; when the object ends, with the test that made it, the count must be
// back at that one: a reference the code under test kept is a leak, and one it gave back too
// often a fault of its own. Either fails the test.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

template <class... TInterfaces>
class CCountedFake : public TInterfaces...
{
public:
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&m_nRef);
        EXPECT_GE(n, 1) << "released more often than referenced";
        return static_cast<ULONG>(n);
    }
    ULONG RefCount() const { return static_cast<ULONG>(m_nRef); }

protected:
    CCountedFake() = default;
    CCountedFake(const CCountedFake&) = delete;
    CCountedFake& operator=(const CCountedFake&) = delete;
    virtual ~CCountedFake() { EXPECT_EQ(1, m_nRef) << "references kept at the end of the test: " << m_nRef - 1; }

private:
    volatile LONG m_nRef = 1;  // the test's own
};

namespace PL5Test
{
// What ends with the current test (fakes that must outlive the statement that made them): run,
// and so checked, by the listener that the test programs' main installs, while the test is still
// the current one.
inline std::vector<std::function<void()>>& AtTestEnd()
{
    static std::vector<std::function<void()>> s_actions;
    return s_actions;
}

class CTestEndListener : public testing::EmptyTestEventListener
{
    void OnTestEnd(const testing::TestInfo&) override
    {
        std::vector<std::function<void()>> actions;
        actions.swap(AtTestEnd());
        for (const auto& fnAction : actions)
            fnAction();
    }
};
}  // namespace PL5Test
