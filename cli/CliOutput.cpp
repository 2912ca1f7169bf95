#include "cli/CliOutput.h"

#include "client/kestrane_client.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdio>

namespace Kestrane::Host {

std::string PrettyJson(const std::string& json) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError()) return json;
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    document.Accept(writer);
    return buffer.GetString();
}

std::string DescribeStatus(unsigned long status) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (0x%08lX)", KestraneStatusName(status), status);
    return text;
}

}  // namespace Kestrane::Host
