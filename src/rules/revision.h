#pragma once
// A number that names one state of an edited object. Every edit takes a new
// number from one counter of the whole program, so two objects carry the
// same number only when one is an unedited copy of the other: a reader can
// tell that nothing changed without comparing the contents.

#include <QtGlobal>

#include <atomic>

class Revision
{
public:
    Revision() : m_value(next()) {}
    void bump() { m_value = next(); }
    quint64 value() const { return m_value; }

private:
    static quint64 next()
    {
        static std::atomic<quint64> counter{0};
        return ++counter;
    }

    quint64 m_value;
};
