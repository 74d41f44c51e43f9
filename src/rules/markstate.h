#pragma once
// The mark a listed message carries. The numbers are the ones the rule
// tables' pictures and the message list's state pictures use.

enum class MarkState : int {
    None = -1, // no mark
    Check = 0, // spam: deleted by the delete pass
    Question = 1, // possible spam, for the user to look at
    Exception = 2, // accepted by an exception rule
    KnownSpammer = 3, // sender on the known spammer list: deleted like Check
};

// "Marked" messages are the ones the delete pass removes.
inline bool isMarkedForDeletion(MarkState mark)
{
    return mark == MarkState::Check || mark == MarkState::KnownSpammer;
}
