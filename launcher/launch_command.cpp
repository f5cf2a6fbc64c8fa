#include <string>

#include "launcher/launch.h"

std::wstring javaRuntimePathIn(const std::wstring& gameFolder) {
    return gameFolder + L"\\pmzjre\\bin\\java.exe";
}

std::wstring buildJavaCommandLine(const std::wstring& runtimePath, const std::wstring& mainClass) {
    static const wchar_t kJavaFxOptions[] =
        L"\" --module-path \"javafx-sdk\\lib\" --add-modules=javafx.base,javafx.controls,"
        L"javafx.web,javafx.swing,javafx.media,javafx.graphics,javafx.fxml -cp \"pmzlib\\*\" ";
    return L"\"" + runtimePath + kJavaFxOptions + mainClass;
}

std::wstring buildLaunchFailureText(unsigned long errorCode) {
    return L"Không thể khởi chạy trò chơi (Error code: " + std::to_wstring(errorCode) +
           L"). Vui lòng kiểm tra lại bộ cài!";
}
