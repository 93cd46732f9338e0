root.TemperatureControl.Sensor.S0.Name=Main
root.TemperatureControl.Sensor.S1.Name=../../x
root.TemperatureControl.Sensor.S1.Name=../../y
root.TemperatureControl.Sensor.S2.Name=Off
root.TemperatureControl.Sensor.S4.Name=Far
