#pragma once

#include "common/MsgBox.h"

#include <initializer_list>
#include <vector>

// Answers the program's message boxes from a script for one scope, recording
// each box. A box beyond the script fails the test and answers Cancel.
class ScriptedMsgBox final : public MsgBoxHandler {
public:
    ScriptedMsgBox(std::initializer_list<MsgBoxAnswer> answers = {});
    ~ScriptedMsgBox() override;
    ScriptedMsgBox(const ScriptedMsgBox&) = delete;
    ScriptedMsgBox& operator=(const ScriptedMsgBox&) = delete;

    void push(MsgBoxAnswer answer) { m_answers.push_back(answer); }
    const std::vector<MsgBoxCall>& calls() const { return m_calls; }
    QStringList texts() const;
    MsgBoxAnswer answer(const MsgBoxCall& call) override;

private:
    std::vector<MsgBoxAnswer> m_answers;
    std::vector<MsgBoxCall> m_calls;
    size_t m_next = 0;
    MsgBoxHandler* m_previous = nullptr;
};
