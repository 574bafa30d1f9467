#include "behaviour.h"

void Behaviour::Set(Answer answer, int count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = answer;
    m_remaining = answer == Answer::Normal ? 0 : count;
}

Answer Behaviour::Next() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_remaining <= 0) return Answer::Normal;
    --m_remaining;
    return m_answer;
}

bool ParseAnswer(const std::string& text, Answer& out) {
    if (text == "normal") out = Answer::Normal;
    else if (text == "garbage") out = Answer::Garbage;
    else if (text == "reject") out = Answer::Reject;
    else if (text == "hang") out = Answer::Hang;
    else return false;
    return true;
}
