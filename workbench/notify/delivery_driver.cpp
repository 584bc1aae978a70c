// Sends one alert, or checks one target, as delivery_test.py asks, and
// prints the outcome as one JSON line:
//   delivery_driver mail URL FROM ID SUBJECT TEXT TIMEOUT_MS TO...
//   delivery_driver webhook URL ID JSON TIMEOUT_MS
//   delivery_driver check-mail URL FROM TO...
//   delivery_driver check-webhook URL
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/errors.h"
#include "notify/delivery.h"

int main(int argc, char** argv) {
    using namespace workbench;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto ms = [](const std::string& s) { return std::chrono::milliseconds(std::stol(s)); };
    const auto print = [](const delivery_outcome& o) {
        std::cout << nlohmann::json{{"delivered", o.delivered}, {"permanent", o.permanent}, {"error", o.error}}
                  << "\n";
    };
    try {
        if (args.size() >= 8 && args[0] == "mail") {
            const mail_target target{args[1], args[2], {args.begin() + 7, args.end()}};
            print(send_mail(target, {args[3], args[4], args[5], ""}, ms(args[6])));
        } else if (args.size() == 5 && args[0] == "webhook") {
            print(post_webhook({args[1]}, {args[2], "", "", args[3]}, ms(args[4])));
        } else if (args.size() >= 3 && args[0] == "check-mail") {
            check_mail_target({args[1], args[2], {args.begin() + 3, args.end()}});
            std::cout << "{}\n";
        } else if (args.size() == 2 && args[0] == "check-webhook") {
            check_webhook_target({args[1]});
            std::cout << "{}\n";
        } else {
            std::cerr << "usage: see delivery_driver.cpp\n";
            return 2;
        }
    } catch (const input_error& e) {
        std::cout << nlohmann::json{{"input_error", e.what()}} << "\n";
    }
    return 0;
}
