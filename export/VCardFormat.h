#pragma once

// vCard 3.0 cards for customers, UTF-8, one card per customer:
//   姓名 -> FN and N (the whole name as family name: a Chinese name is not split reliably),
//   单位 -> ORG, 职务 -> TITLE, 手机 -> TEL;TYPE=CELL, 电话 -> TEL;TYPE=WORK,VOICE,
//   传真 -> TEL;TYPE=WORK,FAX, 地址 and 邮编 -> ADR;TYPE=WORK (street and postal code),
//   电子邮件 -> EMAIL;TYPE=INTERNET, 网站 -> URL, 备注 -> NOTE, 客户类别 -> CATEGORIES,
//   客户简称, 性别 and 登记日期 -> X-LIANBU-SHORTNAME, X-LIANBU-SEX, X-LIANBU-REGISTERED,
// so a card read back gives the same record. Text values are escaped (backslash, comma,
// semicolon, line break) and lines longer than 75 octets are folded without splitting a
// character. A card without a name gets FN from 客户简称 or 单位, as FN may not be missing.

#include "export/CustomerFields.h"
#include "export/ReadLimits.h"

#include <QByteArray>

#include <vector>

namespace lianbu::exchange {

QByteArray vCardFor(const CustomerRecord &record);

// Escapes a text value (a component of a structured value when `component` is set, where ';'
// separates components).
QString escapeVCardText(const QString &value);
// Folds one content line (without its CR LF) into lines of at most 75 octets.
QByteArray foldVCardLine(const QByteArray &line);

struct VCardCard
{
    int line = 0; // line of BEGIN:VCARD
    CustomerRecord record;
};
// A value that was stored mended: its line and what was done.
struct VCardRepair
{
    int line = 0;
    QString what;
};
struct VCardData
{
    std::vector<VCardCard> cards;
    std::vector<int> unreadableLines; // cards without END, or lines outside any card
    std::vector<VCardRepair> repairs;
};

// Reads vCard 2.1, 3.0 and 4.0 text as phones and address books write it: folded lines,
// escaped values, QUOTED-PRINTABLE and CHARSET (UTF-8 or GBK) of 2.1 cards, GBK found out when
// a card does not say, tel: URIs, TEL types of any spelling. A TEL without a type fills 手机,
// then 电话; a number or e-mail for which the field is taken goes to 备注 ("手机：139…").
// NUL bytes are dropped and bytes of no known encoding replaced, each listed in `repairs`.
// Unknown properties are ignored. With a budget, lines, values and cards are held to its limits.
VCardData parseVCards(const QByteArray &bytes, ReadBudget *budget = nullptr);

} // namespace lianbu::exchange
