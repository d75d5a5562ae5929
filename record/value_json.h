// The JSON of one value event, as published and as `velk-vcp-config values --json` prints it.
#pragma once

#include <string>
#include <string_view>

#include "value_event_ring.h"

// Returns UTF-8 text as a JSON string (quotes included); control characters become escapes.
std::string JsonString(std::string_view utf8);
// Appends JsonString(utf8) to out.
void AppendJsonString(std::string& out, std::string_view utf8);

// Returns number in the shortest form that reads back the same, with "." as decimal point;
// "null" for a number that is not finite.
std::string JsonNumber(double number);

// Returns the client name in UTF-8: the name itself when it is valid UTF-8 (as the system
// gives program names), else its bytes read as Windows-1252 (made in scratch).
const std::string& ClientAsUtf8(const std::string& client, std::string& scratch);

// Returns e with its station, text, name and unit (8-bit, Windows-1252, as the engine has
// them) and its client (ClientAsUtf8) in UTF-8.
NumberedEvent InUtf8(NumberedEvent e);

// Returns one line of JSON without a line end (the event's texts in UTF-8):
// {"seq":7,"time":"2026-12-08T23:25:41.123Z","station":"line3","slot":1,"port":"COM5",
//  "client":"","gauge":"1.2","number":25.1,"text":"+0025.100\r\n","status":"valid",
//  "cause":"request","name":"Caliper","unit":"mm","usl":25.2,"ucl":null,"lcl":null,"lsl":25}
// (a limit not set is null).
std::string ValueEventJson(const NumberedEvent& e);

// Appends ValueEventJson(InUtf8(n)) to out: n's 8-bit texts are in Windows-1252, as the
// engine has them; scratch holds a converted text meanwhile (nothing is allocated for ASCII texts
// once out and scratch have grown).
void AppendValueEventJson8Bit(std::string& out, const NumberedEvent& n, std::string& scratch);
