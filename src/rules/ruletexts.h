#pragma once
// The literal cell texts of the rule tables. The marking decision compares
// cells against them exactly, with regard to case, and the rule editors
// write exactly these texts.

#include <QLatin1String>

namespace RuleText {
constexpr QLatin1String Yes("Yes");
constexpr QLatin1String No("No");

// Operators
constexpr QLatin1String Contains("Contains");
constexpr QLatin1String ContainsWholeWord("Contains (whole word)");
constexpr QLatin1String Equals("Equals");
constexpr QLatin1String StartsWith("Starts with");
constexpr QLatin1String EndsWith("Ends with");
constexpr QLatin1String IsBlank("Is blank");
constexpr QLatin1String IsUppercase("Is UPPERCASE");
constexpr QLatin1String AllNumeric("All numeric");
constexpr QLatin1String HalfNumeric("50% numeric");
constexpr QLatin1String FirstCharNumeric("First char numeric");

// What values of the sender and exception tables
constexpr QLatin1String EmailAddress("E-mail address");
constexpr QLatin1String DomainName("Domain name");
constexpr QLatin1String Subject("Subject");

// Special conditions of the header table
constexpr QLatin1String Sender("Sender");
constexpr QLatin1String ToDoesNotContain("To does not contain");
constexpr QLatin1String DoesNotMatchReplyTo("does not match Reply-to");
constexpr QLatin1String EqualsToField("equals To field");
constexpr QLatin1String MailBoxMarker(" - MailBox #");

// What the user's receiving server found (header table). They read only
// the fields that server wrote; "bulk level at least" takes its level in
// Matches.
constexpr QLatin1String FailsDmarc("fails DMARC");
constexpr QLatin1String FailsDkim("fails DKIM");
constexpr QLatin1String FailsSpf("fails SPF");
constexpr QLatin1String PassesDmarc("passes DMARC");
constexpr QLatin1String HasSpamVerdict("has a spam verdict");
constexpr QLatin1String BulkLevelAtLeast("bulk level at least");
} // namespace RuleText
