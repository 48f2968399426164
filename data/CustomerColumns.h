#pragma once

// The columns of table `data`. Their one-letter names are stored in every register and in
// users' saved column layouts, so they never change; code names them only through these.
namespace lianbu::col {

inline constexpr char Category[] = "a";
inline constexpr char ShortName[] = "b";
inline constexpr char Name[] = "c";
inline constexpr char Sex[] = "d";
inline constexpr char Position[] = "e";
inline constexpr char Mobile[] = "f";
inline constexpr char Phone[] = "g";
inline constexpr char Fax[] = "h";
inline constexpr char Address[] = "i";
inline constexpr char Company[] = "j";
inline constexpr char Postcode[] = "k";
inline constexpr char Email[] = "l";
inline constexpr char Website[] = "m";
inline constexpr char Notes[] = "z";
inline constexpr char RegistrationDate[] = "day1";

} // namespace lianbu::col
