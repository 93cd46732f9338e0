root.TemperatureControl.Sensor.S0.Name=Main
