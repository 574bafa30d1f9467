// How the simulated services answer the next requests, as a test asked for.
#pragma once

#include <mutex>
#include <string>

enum class Answer { Normal, Garbage, Reject, Hang };

class Behaviour {
public:
    // Makes the next `count` service requests answer with `answer`.
    void Set(Answer answer, int count);
    // The answer for this request (consuming one of the counted ones).
    Answer Next();

private:
    std::mutex m_mutex;
    Answer m_answer = Answer::Normal;
    int m_remaining = 0;
};

// "normal", "garbage", "reject", "hang"; false for anything else.
bool ParseAnswer(const std::string& text, Answer& out);
