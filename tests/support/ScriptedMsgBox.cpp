#include "ScriptedMsgBox.h"

#include <QStringList>

#include <gtest/gtest.h>

ScriptedMsgBox::ScriptedMsgBox(std::initializer_list<MsgBoxAnswer> answers)
    : m_answers(answers)
    , m_previous(SetMsgBoxHandler(this))
{}

ScriptedMsgBox::~ScriptedMsgBox()
{
    SetMsgBoxHandler(m_previous);
}

QStringList ScriptedMsgBox::texts() const
{
    QStringList out;
    for (const MsgBoxCall& c : m_calls)
        out << c.text;
    return out;
}

MsgBoxAnswer ScriptedMsgBox::answer(const MsgBoxCall& call)
{
    m_calls.push_back(call);
    if (m_next >= m_answers.size()) {
        ADD_FAILURE() << "Unexpected message box: \"" << call.text.toStdString() << "\" titled \""
                      << call.title.toStdString() << "\"";
        return MsgBoxAnswer::Cancel;
    }
    return m_answers[m_next++];
}
