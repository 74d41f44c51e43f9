#pragma once
// The message of the error an operation raises, for tests that check the
// exact text the user would see.

#include <QString>
#include <functional>

// The text of the Error that operation throws; "<no error>" when it
// returns. Any other exception passes through and fails the test.
template <typename Error>
QString failure(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const Error &error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}
