@echo off
echo Tambrix-Beispiel entpackt.
